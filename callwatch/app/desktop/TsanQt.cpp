// Under ThreadSanitizer: Qt's libraries are not built with it, so what they synchronise among
// their own threads (the image and font pools) is invisible to it and reported as races. Their
// own allocations are left out; every access our code makes is still checked.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6Gui.so.6\n"
         "called_from_lib:libQt6Widgets.so.6\n";
}
#endif
