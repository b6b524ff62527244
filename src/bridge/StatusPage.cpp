#include "bridge/StatusPage.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace ovlar {

namespace {

struct TNamedDirection {
  const char* label;  // as metrics and JSON name it
  const char* text;   // as a person reads it
  const TDirection* figures;
};

std::vector<TNamedDirection> Directions(const TStatusView& v) {
  return {{"radio_to_ip", "Radio \u2192 IP", v.RadioToIp}, {"ip_to_radio", "IP \u2192 radio", v.IpToRadio}};
}

const char* DirectionLabel(THeardDirection d) {
  return d == THeardDirection::RadioToIp ? "radio_to_ip" : "ip_to_radio";
}

const char* DirectionText(THeardDirection d) {
  return d == THeardDirection::RadioToIp ? "to IP" : "to radio";
}

std::string LocalTime(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// "12 s", "5 min", "2h13m", "3d04h05m".
std::string SpanText(int64_t ms) {
  const int64_t s = std::max<int64_t>(0, ms / 1000);
  if (s < 60) return std::to_string(s) + " s";
  if (s < 3600) return std::to_string(s / 60) + " min";
  return DurationText(ms);
}

std::string AgeText(std::time_t now, std::time_t then) { return SpanText(static_cast<int64_t>(now - then) * 1000); }

std::string Html(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    }
  }
  return out;
}

std::string Json(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.append(1, '\\').append(1, c);
    } else if (u < 0x20 || u >= 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", u);
      out += esc;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// The learned cache entries heard most recently, after every static one.
std::vector<const TCache*> CacheRows(const TCacheList& cache, size_t& learnedTotal) {
  std::vector<const TCache*> fixed;
  std::vector<const TCache*> learned;
  for (const TCache& e : cache.Entries()) (e.Fixed ? fixed : learned).push_back(&e);
  learnedTotal = learned.size();
  const size_t shown = std::min(learned.size(), kStatusRows);
  std::partial_sort(learned.begin(), learned.begin() + static_cast<std::ptrdiff_t>(shown), learned.end(),
                    [](const TCache* a, const TCache* b) { return a->Heard > b->Heard; });
  fixed.insert(fixed.end(), learned.begin(), learned.begin() + static_cast<std::ptrdiff_t>(shown));
  return fixed;
}

// ---- HTML ----

const char* const kStyle =
    ":root{color-scheme:light dark;--bg:#f4f6f8;--card:#fff;--fg:#1d2329;--muted:#5d6670;--line:#dde1e6;"
    "--up:#1a7f37;--down:#b42318}"
    "@media(prefers-color-scheme:dark){:root{--bg:#111418;--card:#1b2026;--fg:#e6e9ec;--muted:#98a2ad;"
    "--line:#2c333b;--up:#3fb950;--down:#f85149}}"
    "*{box-sizing:border-box}"
    "body{margin:0;font:15px/1.45 system-ui,-apple-system,'Segoe UI',Roboto,sans-serif;background:var(--bg);"
    "color:var(--fg)}"
    "header{padding:12px 16px;background:var(--card);border-bottom:1px solid var(--line)}"
    "h1{font-size:1.25rem;margin:0 0 2px}h2{font-size:1rem;margin:0 0 8px}"
    "main{max-width:1100px;margin:0 auto;padding:12px}"
    ".grid{display:grid;gap:12px;grid-template-columns:repeat(auto-fit,minmax(260px,1fr));margin-bottom:12px}"
    "section{background:var(--card);border:1px solid var(--line);border-radius:8px;padding:12px 14px}"
    "main>section{margin-bottom:12px}"
    ".scroll{overflow-x:auto}"
    "table{border-collapse:collapse;width:100%}"
    "th,td{padding:4px 6px;text-align:left;border-bottom:1px solid var(--line)}"
    ".scroll th,.scroll td,td.n{white-space:nowrap}"
    "th{font-weight:600;color:var(--muted)}"
    ".n{text-align:right;font-variant-numeric:tabular-nums}"
    "td.why{padding-left:18px;color:var(--muted)}"
    ".up{color:var(--up);font-weight:600}.down{color:var(--down);font-weight:600}"
    ".muted{color:var(--muted)}p{margin:0 0 8px}"
    "@media(max-width:480px){body{font-size:14px}main{padding:8px}section{padding:10px}th,td{padding:4px 3px}}";

std::string Row(const std::string& name, const std::string& value, const std::string& id,
                const std::string& nameClass = "") {
  return "<tr><td" + (nameClass.empty() ? "" : " class=\"" + nameClass + "\"") + ">" + name +
         "</td><td class=\"n\" id=\"" + id + "\">" + value + "</td></tr>";
}

std::string WhenCell(const TStatusView& v, std::time_t t) {
  if (t == 0) return "never";
  return "<span title=\"" + LocalTime(t) + "\">" + AgeText(v.Now, t) + " ago</span>";
}

std::string LinkSection(const TStatusView& v) {
  return "<section id=\"link\"><h2>Engine link</h2><p><span id=\"link_state\" class=\"" +
         std::string(v.LinkUp ? "up\">up" : "down\">down") + "</span> since " + LocalTime(v.LinkSince) + " (" +
         AgeText(v.Now, v.LinkSince) + ")</p><table>" + Row("ups", std::to_string(v.LinkUps), "link_ups") +
         Row("downs", std::to_string(v.LinkDowns), "link_downs") + "</table></section>";
}

std::string DirectionSection(const TStatusView& v, const TNamedDirection& d) {
  const std::string id = d.label;
  std::string html = "<section id=\"" + id + "\"><h2>" + d.text + "</h2><table>" +
                     Row("frames forwarded", std::to_string(d.figures->Forwarded), id + "_frames") +
                     Row("bytes", std::to_string(d.figures->Bytes), id + "_bytes") +
                     Row("last frame",
                         d.figures->LastFrame == 0
                             ? std::string("never")
                             : LocalTime(d.figures->LastFrame) + "<br><small class=\"muted\">" +
                                   AgeText(v.Now, d.figures->LastFrame) + " ago</small>",
                         id + "_last") +
                     Row("dropped", std::to_string(d.figures->Dropped()), id + "_dropped");
  // The reasons that happened; the metrics and the JSON name all of them.
  for (size_t r = 0; r < kDropReasons; ++r) {
    const auto reason = static_cast<TDrop>(r);
    if (d.figures->Drops[r] == 0) continue;
    html += Row(Html(DropText(reason)), std::to_string(d.figures->Drops[r]), id + "_drop_" + DropLabel(reason), "why");
  }
  return html + "</table></section>";
}

std::string HeardSection(const TStatusView& v) {
  std::string html = "<section id=\"heard\"><h2>Heard stations (" + std::to_string(v.Heard->Size()) +
                     ")</h2><div class=\"scroll\"><table><thead><tr><th>Callsign</th><th class=\"n\">Port</th>"
                     "<th>Direction</th><th class=\"n\">Frames</th><th>Last heard</th></tr></thead><tbody>";
  size_t rows = 0;
  for (const THeard& h : v.Heard->Entries()) {
    if (rows++ == kStatusRows) break;
    html += "<tr><td>" + Html(h.Call) + "</td><td class=\"n\">" + std::to_string(h.Port) + "</td><td>" +
            DirectionText(h.Direction) + "</td><td class=\"n\">" + std::to_string(h.Frames) + "</td><td>" +
            WhenCell(v, h.Last) + "</td></tr>";
  }
  if (rows == 0) html += "<tr><td colspan=\"5\" class=\"muted\">nothing heard yet</td></tr>";
  return html + "</tbody></table></div></section>";
}

std::string CacheSection(const TStatusView& v) {
  size_t learned = 0;
  const std::vector<const TCache*> rows = CacheRows(*v.Cache, learned);
  std::string html = "<section id=\"cache\"><h2>Route cache (" + std::to_string(v.Cache->Size()) +
                     ")</h2><div class=\"scroll\"><table><thead><tr><th>Callsign</th><th class=\"n\">Port</th>"
                     "<th>Kind</th><th>Age</th></tr></thead><tbody>";
  for (const TCache* e : rows) {
    html += "<tr><td>" + Html(e->Station) + "</td><td class=\"n\">" + std::to_string(e->HeardPort) + "</td><td>" +
            (e->Fixed ? "static" : "learned") + "</td><td>" + (e->Heard ? AgeText(v.Now, e->Heard) : "") + "</td></tr>";
  }
  if (rows.empty()) html += "<tr><td colspan=\"4\" class=\"muted\">empty</td></tr>";
  html += "</tbody></table></div>";
  if (learned > kStatusRows) {
    html += "<p class=\"muted\">the " + std::to_string(kStatusRows) + " learned entries heard last of " +
            std::to_string(learned) + "</p>";
  }
  return html + "</section>";
}

// ---- Metrics ----

void Family(std::string& out, const char* name, const char* type, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void Sample(std::string& out, const std::string& name, const std::string& labels, uint64_t value) {
  out += name + (labels.empty() ? "" : "{" + labels + "}") + " " + std::to_string(value) + "\n";
}

std::string JsonTime(std::time_t t) { return t == 0 ? "null" : std::to_string(t); }

std::string JsonDirection(const TDirection& d) {
  std::string json = "{\"frames_forwarded\":" + std::to_string(d.Forwarded) +
                     ",\"bytes_forwarded\":" + std::to_string(d.Bytes) + ",\"last_frame\":" + JsonTime(d.LastFrame) +
                     ",\"frames_dropped\":{";
  for (size_t r = 0; r < kDropReasons; ++r) {
    json += std::string(r ? "," : "") + "\"" + DropLabel(static_cast<TDrop>(r)) + "\":" + std::to_string(d.Drops[r]);
  }
  return json + "}}";
}

}  // namespace

std::string StatusHtml(const TStatusView& v) {
  std::string html =
      "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
      "<meta http-equiv=\"refresh\" content=\"" +
      std::to_string(kStatusRefreshSeconds) + "\"><title>" + Html(v.Product) + " status</title><style>" + kStyle +
      "</style></head><body><header><h1>" + Html(v.Product) + "</h1><div class=\"muted\">" + Html(v.Mode) +
      " mode &middot; up <span id=\"uptime\">" + SpanText(v.UptimeMs) + "</span> &middot; as of " + LocalTime(v.Now) + ", refreshed every " + std::to_string(kStatusRefreshSeconds) +
      " s</div></header><main><div class=\"grid\">" + LinkSection(v);
  for (const TNamedDirection& d : Directions(v)) html += DirectionSection(v, d);
  html += "</div>" + HeardSection(v);
  if (v.Cache) html += CacheSection(v);
  return html + "</main></body></html>\n";
}

std::string StatusMetrics(const TStatusView& v) {
  std::string out;
  const std::vector<TNamedDirection> directions = Directions(v);
  Family(out, "ovlar_frames_forwarded_total", "counter", "Frames forwarded, by direction.");
  for (const auto& d : directions) {
    Sample(out, "ovlar_frames_forwarded_total", std::string("direction=\"") + d.label + "\"", d.figures->Forwarded);
  }
  Family(out, "ovlar_bytes_forwarded_total", "counter", "Bytes of the frames forwarded, by direction.");
  for (const auto& d : directions) {
    Sample(out, "ovlar_bytes_forwarded_total", std::string("direction=\"") + d.label + "\"", d.figures->Bytes);
  }
  Family(out, "ovlar_frames_dropped_total", "counter", "Frames not forwarded, by direction and reason.");
  for (const auto& d : directions) {
    for (size_t r = 0; r < kDropReasons; ++r) {
      Sample(out, "ovlar_frames_dropped_total",
             std::string("direction=\"") + d.label + "\",reason=\"" + DropLabel(static_cast<TDrop>(r)) + "\"",
             d.figures->Drops[r]);
    }
  }
  Family(out, "ovlar_link_up", "gauge", "Whether the link to the packet engine is usable (1) or not (0).");
  Sample(out, "ovlar_link_up", "", v.LinkUp ? 1 : 0);
  Family(out, "ovlar_link_changes_total", "counter", "Times the link to the packet engine came up or went down.");
  Sample(out, "ovlar_link_changes_total", "change=\"up\"", v.LinkUps);
  Sample(out, "ovlar_link_changes_total", "change=\"down\"", v.LinkDowns);
  Family(out, "ovlar_heard_stations", "gauge", "Entries of the heard list (station, radio port, direction).");
  Sample(out, "ovlar_heard_stations", "", v.Heard->Size());
  Family(out, "ovlar_start_time_seconds", "gauge", "Start time of the program, seconds since the Unix epoch.");
  Sample(out, "ovlar_start_time_seconds", "", static_cast<uint64_t>(std::max<std::time_t>(v.Started, 0)));
  return out;
}

std::string StatusJson(const TStatusView& v) {
  std::string json = "{\"product\":" + Json(v.Product) + ",\"mode\":" + Json(v.Mode) +
                     ",\"time\":" + std::to_string(v.Now) + ",\"start_time\":" + std::to_string(v.Started) +
                     ",\"uptime_seconds\":" + std::to_string(v.UptimeMs / 1000) +
                     ",\"link\":{\"up\":" + (v.LinkUp ? "true" : "false") + ",\"since\":" + JsonTime(v.LinkSince) +
                     ",\"ups\":" + std::to_string(v.LinkUps) + ",\"downs\":" + std::to_string(v.LinkDowns) + "}";
  for (const TNamedDirection& d : Directions(v)) json += ",\"" + std::string(d.label) + "\":" + JsonDirection(*d.figures);
  json += ",\"heard_stations\":" + std::to_string(v.Heard->Size()) + ",\"heard\":[";
  size_t rows = 0;
  for (const THeard& h : v.Heard->Entries()) {
    if (rows == kStatusRows) break;
    json += std::string(rows++ ? "," : "") + "{\"callsign\":" + Json(h.Call) + ",\"port\":" + std::to_string(h.Port) +
            ",\"direction\":\"" + DirectionLabel(h.Direction) + "\",\"frames\":" + std::to_string(h.Frames) +
            ",\"last_heard\":" + JsonTime(h.Last) + "}";
  }
  json += "]";
  if (v.Cache) {
    size_t learned = 0;
    json += ",\"cache_entries\":" + std::to_string(v.Cache->Size()) + ",\"cache\":[";
    rows = 0;
    for (const TCache* e : CacheRows(*v.Cache, learned)) {
      json += std::string(rows++ ? "," : "") + "{\"callsign\":" + Json(e->Station) +
              ",\"port\":" + std::to_string(e->HeardPort) + ",\"static\":" + (e->Fixed ? "true" : "false") +
              ",\"heard\":" + JsonTime(e->Heard) + "}";
    }
    json += "]";
  }
  return json + "}\n";
}

}  // namespace ovlar
