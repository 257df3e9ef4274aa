#pragma once
// Owners for GStreamer and GLib references, so that every early return releases what it holds.
// Internal to media/.

#include <gst/gst.h>

#include <memory>

#include "core/handoff.h"

namespace lunadio::gst {

struct ObjectUnref {
  void operator()(gpointer object) const { gst_object_unref(object); }
};
struct MessageUnref {
  // A popped message was last read by the bus filter on a streaming thread; the bus's own lock
  // orders the two, out of ThreadSanitizer's sight.
  void operator()(GstMessage* message) const {
    receiveHandoff(message);
    gst_message_unref(message);
  }
};
struct QueryUnref {
  void operator()(GstQuery* query) const { gst_query_unref(query); }
};
struct EventUnref {
  void operator()(GstEvent* event) const { gst_event_unref(event); }
};
struct CapsUnref {
  void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
struct ErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
struct GFree {
  void operator()(gpointer memory) const { g_free(memory); }
};

template <class T>
using ObjectPtr = std::unique_ptr<T, ObjectUnref>;
using ElementPtr = ObjectPtr<GstElement>;
using BusPtr = ObjectPtr<GstBus>;
using PadPtr = ObjectPtr<GstPad>;
using MessagePtr = std::unique_ptr<GstMessage, MessageUnref>;
using CapsPtr = std::unique_ptr<GstCaps, CapsUnref>;
using EventPtr = std::unique_ptr<GstEvent, EventUnref>;
using QueryPtr = std::unique_ptr<GstQuery, QueryUnref>;
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
using CharPtr = std::unique_ptr<gchar, GFree>;

}  // namespace lunadio::gst
