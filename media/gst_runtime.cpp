#include "media/gst_runtime.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace lunadio::gst {
namespace {

bool factoryExists(const char* name) {
  ObjectPtr<GstElementFactory> factory(gst_element_factory_find(name));
  return factory != nullptr;
}

bool mp3DecoderExists() {
  GList* decoders = gst_element_factory_list_get_elements(
      GST_ELEMENT_FACTORY_TYPE_DECODER | GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO, GST_RANK_MARGINAL);
  CapsPtr mp3(gst_caps_from_string("audio/mpeg, mpegversion=(int)1, layer=(int)3"));
  GList* fitting = gst_element_factory_list_filter(decoders, mp3.get(), GST_PAD_SINK, FALSE);
  const bool found = fitting != nullptr;
  gst_plugin_feature_list_free(fitting);
  gst_plugin_feature_list_free(decoders);
  return found;
}

std::string sinkDescription() {
  const char* value = std::getenv(kSinkVariable);
  return value ? std::string(value) : std::string();
}

bool isFakeSink(GstElement* element) {
  GstElementFactory* factory = gst_element_get_factory(element);  // not a new reference
  return factory && std::strcmp(GST_OBJECT_NAME(factory), "fakesink") == 0;
}

}  // namespace

bool startGstreamer() {
  GError* rawError = nullptr;
  if (!gst_init_check(nullptr, nullptr, &rawError)) {
    ErrorPtr error(rawError);
    return false;
  }
  return factoryExists("playbin") && mp3DecoderExists();
}

bool sinkDescriptionParses() {
  const std::string description = sinkDescription();
  if (description.empty()) return true;
  GError* rawError = nullptr;
  ElementPtr bin(gst_parse_bin_from_description(description.c_str(), TRUE, &rawError));
  ErrorPtr error(rawError);
  // A parse that only warns still returns a bin together with an error: treat it as broken.
  return bin && !error;
}

AudioSink makeAudioSink() {
  AudioSink sink;
  const std::string description = sinkDescription();
  if (!description.empty()) {
    GError* rawError = nullptr;
    GstElement* bin = gst_parse_bin_from_description(description.c_str(), TRUE, &rawError);
    ErrorPtr error(rawError);
    if (bin) sink.element.reset(GST_ELEMENT(gst_object_ref_sink(bin)));
    if (error) sink.element.reset();
    sink.custom = true;
    return sink;
  }
  // The sound server's own sink when a server answers (it reaches READY only once connected):
  // the automatic sink would choose the same one, but only after weighing every audio sink of
  // the registry, which adds some 15 ms to a track's start.
  if (GstElement* server = gst_element_factory_make("pulsesink", nullptr)) {
    ElementPtr held(GST_ELEMENT(gst_object_ref_sink(server)));
    if (gst_element_set_state(server, GST_STATE_READY) == GST_STATE_CHANGE_SUCCESS) {
      sink.element = std::move(held);
      return sink;
    }
    gst_element_set_state(server, GST_STATE_NULL);
  }
  GstElement* automatic = gst_element_factory_make("autoaudiosink", nullptr);
  if (automatic) sink.element.reset(GST_ELEMENT(gst_object_ref_sink(automatic)));
  return sink;
}

// Visits every element inside a bin, depth first, until `visit` returns false. A resync (the bin
// changed under the walk) starts the walk over, after `restart`.
template <class Visit, class Restart>
void visitBinElements(GstBin* bin, Visit visit, Restart restart) {
  GstIterator* children = gst_bin_iterate_recurse(bin);
  GValue item = G_VALUE_INIT;
  bool done = false;
  while (!done) {
    switch (gst_iterator_next(children, &item)) {
      case GST_ITERATOR_OK:
        if (!visit(GST_ELEMENT(g_value_get_object(&item)))) done = true;
        g_value_reset(&item);
        break;
      case GST_ITERATOR_RESYNC:
        gst_iterator_resync(children);
        restart();
        break;
      default:
        done = true;
        break;
    }
  }
  g_value_unset(&item);
  gst_iterator_free(children);
}

ElementPtr renderingElement(const AudioSink& sink) {
  if (!sink.element) return nullptr;
  if (!GST_IS_BIN(sink.element.get())) {
    return ElementPtr(GST_ELEMENT(gst_object_ref(sink.element.get())));
  }
  ElementPtr found;
  visitBinElements(
      GST_BIN(sink.element.get()),
      [&found](GstElement* element) {
        if (GST_IS_BIN(element) || !GST_OBJECT_FLAG_IS_SET(element, GST_ELEMENT_FLAG_SINK)) {
          return true;
        }
        found.reset(GST_ELEMENT(gst_object_ref(element)));
        return false;
      },
      [&found] { found.reset(); });
  return found;
}

MediaOutput outputOf(const AudioSink& sink) {
  if (!sink.element) return MediaOutput::None;
  if (sink.custom) return MediaOutput::Custom;
  if (!GST_IS_BIN(sink.element.get())) {
    return isFakeSink(sink.element.get()) ? MediaOutput::Silent : MediaOutput::Device;
  }
  bool fake = false;
  visitBinElements(
      GST_BIN(sink.element.get()),
      [&fake](GstElement* element) {
        if (isFakeSink(element)) fake = true;
        return true;
      },
      [&fake] { fake = false; });
  return fake ? MediaOutput::Silent : MediaOutput::Device;
}

}  // namespace lunadio::gst
