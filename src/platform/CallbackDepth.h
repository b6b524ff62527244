// How many of an object's callbacks run now, for the rule that a callback
// must not destroy the object that called it (ReleaseLater and CloseDelayed
// exist for that): the object's destructor asks Idle, and a debug build
// stops there when the rule is broken, rather than going on in freed
// memory. A release build counts nothing. Owner's thread only.
#pragma once

namespace ovlar {

class CallbackDepth {
 public:
  // One callback running, for the length of the scope.
  class Scope {
   public:
#ifndef NDEBUG
    explicit Scope(CallbackDepth& depth) : depth_(depth) { ++depth_.running_; }
    ~Scope() { --depth_.running_; }
#else
    explicit Scope(CallbackDepth&) {}
#endif
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

#ifndef NDEBUG
   private:
    CallbackDepth& depth_;
#endif
  };

  bool Idle() const { return running_ == 0; }

 private:
  int running_ = 0;
};

}  // namespace ovlar
