#!/usr/bin/perl
# A SOCKS 4 and 4A proxy for the tests, built on Debian's IO::Socket::Socks:
# socks4.pl PORT. Resolves names itself (4A) and relays both ways.
use strict;
use warnings;
use IO::Socket::INET;
use IO::Select;
use IO::Socket::Socks qw(:constants);

$SIG{CHLD} = 'IGNORE';
my $server = IO::Socket::Socks->new(ProxyAddr => '127.0.0.1', ProxyPort => $ARGV[0], Listen => 5,
                                     SocksVersion => 4, SocksResolve => 1, ReuseAddr => 1)
  or die "socks4.pl: $IO::Socket::Socks::SOCKS_ERROR\n";
print "ready\n";
STDOUT->flush();
while (1) {
  my $client = $server->accept() or next;
  next if fork();
  my ($command, $host, $port) = @{$client->command()};
  my $target = IO::Socket::INET->new(PeerAddr => $host, PeerPort => $port, Timeout => 5);
  if (!$target) {
    $client->command_reply(REQUEST_FAILED, '0.0.0.0', 0);
    exit 0;
  }
  $client->command_reply(REQUEST_GRANTED, $target->sockhost, $target->sockport);
  my $select = IO::Select->new($client, $target);
  while (my @ready = $select->can_read()) {
    for my $from (@ready) {
      my $to = $from == $client ? $target : $client;
      my $n = sysread($from, my $buf, 65536);
      exit 0 unless $n;
      syswrite($to, $buf);
    }
  }
  exit 0;
}
