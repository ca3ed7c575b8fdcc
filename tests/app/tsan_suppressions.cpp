// Built into the window tests: Qt hands work between threads under its own futex-based
// mutex, which the thread sanitizer cannot see in a Qt built without it, so Qt's own
// allocations and copies are not checked; the program's own code still is.
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
