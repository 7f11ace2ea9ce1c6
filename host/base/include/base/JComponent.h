#pragma once
// Diagnostic lines. debug() writes "NAME: text" for the object whose operation is running on this
// thread (the host marks it with a Scope); tests and the host may take the lines themselves.
#include <functional>
#include <string>

class JObject;
class JString;

class JComponent {
public:
  static void debug(const JString& text);
  static void debug(const char* text);
  // A line formatted with printf rules (cut at 511 bytes).
  static void debugf(const char* format, ...) __attribute__((format(printf, 1, 2)));

  using Sink = std::function<void(const std::string& name, const std::string& text)>;
  // Replaces where lines go (nullptr restores standard error); returns the previous sink.
  static Sink setSink(Sink sink);

  // Marks the object whose code runs on this thread while the scope lives. Inline: the host
  // sets it around every delivery.
  class Scope {
  public:
    explicit Scope(const JObject* current) : previous_(currentObject) { currentObject = current; }
    ~Scope() { currentObject = previous_; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

  private:
    const JObject* previous_;
  };
  static const JObject* current() { return currentObject; }

private:
  static thread_local const JObject* currentObject __attribute__((tls_model("initial-exec")));
};
