// What the thread sanitizer is not to report in the window's tests, built into the test
// program so that it holds however the tests are run. Qt's event queue is guarded by Qt's
// own futex-based mutex, which the sanitizer cannot see in a Qt built without it: an event
// that a worker posts and the UI thread deletes is reported as a race inside Qt. The
// window's own hand-over (UiQueue) uses std::mutex and stays checked.
extern "C" const char* __tsan_default_suppressions();

extern "C" const char* __tsan_default_suppressions() {
  return "race:QCoreApplicationPrivate::sendPostedEvents\n";
}
