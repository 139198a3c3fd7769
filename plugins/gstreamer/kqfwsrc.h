#pragma once

#include <gst/base/gstpushsrc.h>

G_BEGIN_DECLS

// kqfwsrc: a live source of the KQ cameras' images on continuous acquisition (resolutions 0 to
// 2), or of one multi-shot image a buffer (3 to 6).
#define GST_TYPE_KQFW_SRC (gst_kqfw_src_get_type())
G_DECLARE_FINAL_TYPE(GstKqfwSrc, gst_kqfw_src, GST, KQFW_SRC, GstPushSrc)

// Registers the element with the plugin.
gboolean gst_kqfw_src_register(GstPlugin* plugin);

G_END_DECLS
