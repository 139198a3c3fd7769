// The kqfw GStreamer plugin: one element, kqfwsrc.
#include <gst/gst.h>

#include "kqfwsrc.h"

#ifndef PACKAGE
#define PACKAGE "kqfw"
#endif

namespace {

gboolean pluginInit(GstPlugin* plugin) {
    return gst_kqfw_src_register(plugin);
}

}  // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, kqfw,
                  "Vestrix KQ FireWire microscope cameras", pluginInit, KQFW_VERSION, "Proprietary",
                  "kqfw", "kqfw")
