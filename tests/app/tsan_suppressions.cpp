// What the thread sanitizer is not to report in the window's tests, built into the test
// program so that it holds however the tests are run. Qt hands work between threads under
// its own futex-based mutex (the event queue, the thread pools that paint and convert
// images), which the sanitizer cannot see in a Qt built without it: memory that one thread
// allocates inside Qt and another frees inside Qt is reported as a race. The allocations,
// frees and copies that Qt's libraries make are therefore not checked; every access made by
// the program's own code still is, and the window's own hand-over (UiQueue) uses std::mutex.
extern "C" const char* __tsan_default_suppressions();

extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6Gui.so.6\n"
         "called_from_lib:libQt6Widgets.so.6\n"
         "race:QCoreApplicationPrivate::sendPostedEvents\n"
         // A queued call's slot object: made by the posting thread, read by the UI thread.
         "race:QtPrivate::QSlotObject\n"
         "race:QtPrivate::QCallableObject\n"
         "race:QtPrivate::QFunctorSlotObject\n";
}
