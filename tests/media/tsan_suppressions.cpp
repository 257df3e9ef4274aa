// ThreadSanitizer suppressions built into the media test runner (ThreadSanitizer builds only).
// GStreamer, GLib and the plugins they load are not instrumented and lock through futexes that
// TSan cannot see. Our own code is never suppressed here; the one hand-off that goes through
// GStreamer's locks is annotated in media/handoff.h. These add to any suppressions file given in
// TSAN_OPTIONS.

extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libglib-2.0.so\n"
         "called_from_lib:libgobject-2.0.so\n"
         "called_from_lib:libgio-2.0.so\n"
         "called_from_lib:libgstreamer-1.0.so\n"
         "called_from_lib:libgstbase-1.0.so\n"
         "called_from_lib:libgstaudio-1.0.so\n"
         "called_from_lib:libgstpbutils-1.0.so\n"
         "called_from_lib:libgsttag-1.0.so\n"
         "called_from_lib:liborc-0.4.so\n"
         "called_from_lib:libmpg123.so\n"
         "called_from_lib:libpulse.so\n"
         "called_from_lib:libpulsecommon\n"
         "called_from_lib:libdbus-1.so\n"
         "called_from_lib:libgstcoreelements.so\n"
         "called_from_lib:libgstplayback.so\n"
         "called_from_lib:libgstaudioparsers.so\n"
         "called_from_lib:libgstmpg123.so\n"
         "called_from_lib:libgstautodetect.so\n"
         "called_from_lib:libgstpulseaudio.so\n"
         "called_from_lib:libgsttypefindfunctions.so\n"
         "called_from_lib:libgstaudioconvert.so\n"
         "called_from_lib:libgstaudioresample.so\n"
         "called_from_lib:libgstvolume.so\n"
         "called_from_lib:libgstid3demux.so\n"
         "called_from_lib:libgstapetag.so\n"
         "called_from_lib:libgstoss4.so\n"
         "called_from_lib:libgstossaudio.so\n"
         "called_from_lib:libgstjack.so\n";
}
