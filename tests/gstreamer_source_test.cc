// The kqfwsrc element in pipelines on the simulated bench, as an application builds them.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"
#include "kqfw/kqsim.h"

// What GLib and GStreamer allocate once and keep until the process ends (type system,
// registry, thread pools), and the leaks tracer's lists that liveObjects() keeps. Buffers, caps
// and elements are counted by the test itself through the leaks tracer.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgstreamer-1.0.so\n"
           "leak:libgstbase-1.0.so\nleak:libgstvideo-1.0.so\nleak:libgstapp-1.0.so\n"
           "leak:libgstcoretracers.so\n";
}

namespace {

constexpr int kColour = 0;
constexpr int kMono = 1;
// Bounds on waits for what the bench does; they only turn a hang into a failure.
constexpr GstClockTime kPatience = 60 * GST_SECOND;

struct Pipeline {
    GstElement* pipeline = nullptr;
    GstElement* sink = nullptr;

    explicit Pipeline(const std::string& source) {
        GError* error = nullptr;
        const std::string description = source + " ! appsink name=sink sync=false";
        pipeline = gst_parse_launch(description.c_str(), &error);
        EXPECT_EQ(error, nullptr) << (error ? error->message : "");
        sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    }
    ~Pipeline() {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(sink);
        gst_object_unref(pipeline);
    }
    GstStateChangeReturn play() { return gst_element_set_state(pipeline, GST_STATE_PLAYING); }
    GstSample* pull() { return gst_app_sink_try_pull_sample(GST_APP_SINK(sink), kPatience); }
    // The next error, warning or end of stream on the bus.
    GstMessage* message() {
        GstBus* bus = gst_element_get_bus(pipeline);
        GstMessage* m = gst_bus_timed_pop_filtered(
            bus, kPatience,
            static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_WARNING | GST_MESSAGE_EOS));
        gst_object_unref(bus);
        return m;
    }
};

std::string text(GstMessage* m) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
        gst_message_parse_error(m, &error, &debug);
    } else if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_WARNING) {
        gst_message_parse_warning(m, &error, &debug);
    } else {
        return GST_MESSAGE_TYPE_NAME(m);
    }
    std::string result = error->message;
    g_error_free(error);
    g_free(debug);
    return result;
}

std::string capsOf(GstSample* sample) {
    GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
    int width = 0, height = 0;
    gst_structure_get_int(s, "width", &width);
    gst_structure_get_int(s, "height", &height);
    return std::string(gst_structure_get_string(s, "format")) + " " + std::to_string(width) + "x" +
           std::to_string(height);
}

std::vector<uint16_t> samplesOf(GstSample* sample) {
    GstMapInfo map;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    gst_buffer_map(buffer, &map, GST_MAP_READ);
    std::vector<uint16_t> out(map.size / 2);
    std::memcpy(out.data(), map.data, map.size);
    gst_buffer_unmap(buffer, &map);
    return out;
}

// GStreamer objects alive now, as the leaks tracer counts them.
guint liveObjects() {
    GList* tracers = gst_tracing_get_active_tracers();
    guint count = 0;
    for (GList* t = tracers; t != nullptr; t = t->next) {
        if (g_str_has_prefix(G_OBJECT_TYPE_NAME(t->data), "GstLeaksTracer")) {
            GstStructure* live = nullptr;
            g_signal_emit_by_name(t->data, "get-live-objects", &live);
            const GValue* list = gst_structure_get_value(live, "live-objects-list");
            count = gst_value_list_get_size(list);
            // Not freed: GStreamer 1.22's tracer hands out its objects without a reference of
            // the list's own, so freeing the list would release objects it does not hold.
            (void)live;
        }
    }
    g_list_free_full(tracers, gst_object_unref);
    return count;
}

class GstSource : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // The plugin as GStreamer finds it, from this build, loaded into this process (a
        // sanitizer build's plugin cannot be loaded by GStreamer's plain scanner program).
        setenv("GST_PLUGIN_PATH", KQFW_GST_PLUGIN_DIR, 1);
        setenv("GST_REGISTRY_FORK", "no", 1);
        setenv("GST_TRACERS", "leaks", 1);
        gst_init(nullptr, nullptr);
    }
    void SetUp() override {
        kqsimResetDefault();
        kqsimSetTimeScale(0);
        kqsimSetNoise(kColour, 0);
        kqsimSetNoise(kMono, 0);
    }
};

TEST_F(GstSource, CapsFollowWhatTheLibraryDeliversAndNumBuffersEndsTheStream) {
    const struct {
        std::string properties, caps;
    } cases[] = {
        {"camera=0", "BGRA64_LE 1388x1040"},
        {"camera=KQM binning=2", "GRAY16_LE 692x520"},       // the library aligns the width
        {"camera=KQC resolution=2", "GRAY16_LE 1388x1040"},  // the mosaic: one sample a pixel
        {"camera=0 region=100,100,500,300", "BGRA64_LE 400x200"},
        {"camera=KQM resolution=4", "GRAY16_LE 2776x2080"},  // a multi-shot image a buffer
    };
    for (const auto& c : cases) {
        Pipeline p("kqfwsrc num-buffers=3 exposure=10000 " + c.properties);
        ASSERT_NE(p.play(), GST_STATE_CHANGE_FAILURE) << c.properties;
        std::vector<guint64> offsets;
        for (int i = 0; i < 3; ++i) {
            GstSample* sample = p.pull();
            ASSERT_NE(sample, nullptr) << c.properties;
            EXPECT_EQ(capsOf(sample), c.caps);
            offsets.push_back(GST_BUFFER_OFFSET(gst_sample_get_buffer(sample)));
            gst_sample_unref(sample);
        }
        EXPECT_TRUE(offsets[0] < offsets[1] && offsets[1] < offsets[2]) << "frame order";
        GstMessage* end = p.message();
        ASSERT_NE(end, nullptr);
        EXPECT_EQ(GST_MESSAGE_TYPE(end), GST_MESSAGE_EOS) << text(end);
        gst_message_unref(end);
    }
}

TEST_F(GstSource, BuffersHoldTheLibrarysImageOfTheScene) {
    const struct {
        std::string camera, interpolation;
    } cases[] = {{"KQM", "camera"}, {"KQC", "camera"}, {"KQC", "lmmse"}};
    for (const auto& [camera, interpolation] : cases) {
        Pipeline p("kqfwsrc num-buffers=1 exposure=10000 camera=" + camera +
                   " interpolation=" + interpolation);
        ASSERT_NE(p.play(), GST_STATE_CHANGE_FAILURE);
        GstSample* sample = p.pull();
        ASSERT_NE(sample, nullptr);
        const std::vector<uint16_t> streamed = samplesOf(sample);
        gst_sample_unref(sample);
        gst_element_set_state(p.pipeline, GST_STATE_NULL);

        // The same frame through the C API: noise off, the bench renders the same scene.
        const int32_t position = camera == "KQM" ? kMono : kColour;
        ASSERT_EQ(kqfwInitListed(0, position), 0u);
        ASSERT_EQ(IxenmSetExposure(0, 10000), 0u);
        ASSERT_EQ(kqfwSetColourInterpolation(0, interpolation == "lmmse"), 0u);
        std::vector<uint16_t> image(1388 * 1040 * 3);
        ASSERT_EQ(IxenmAcquisition(0, image.data(), image.size() * 2, nullptr), 0);
        IxenmClose(0);
        if (camera == "KQM") {
            image.resize(1388 * 1040);
            EXPECT_EQ(streamed, image);
        } else {
            ASSERT_EQ(streamed.size(), image.size() / 3 * 4);
            size_t differing = 0;
            for (size_t i = 0; i < image.size() / 3; ++i) {
                differing +=
                    streamed[4 * i] != image[3 * i] || streamed[4 * i + 1] != image[3 * i + 1] ||
                    streamed[4 * i + 2] != image[3 * i + 2] || streamed[4 * i + 3] != 0xFFFF;
            }
            EXPECT_EQ(differing, 0u) << interpolation;
        }
    }
}

TEST_F(GstSource, ALostFrameIsAGapInTheOffsetsAndAWarning) {
    Pipeline p("kqfwsrc name=source num-buffers=5 exposure=10000 camera=KQM");
    ASSERT_NE(p.play(), GST_STATE_CHANGE_FAILURE);
    std::vector<guint64> offsets;
    for (int i = 0; i < 5; ++i) {
        GstSample* sample = p.pull();
        ASSERT_NE(sample, nullptr);
        offsets.push_back(GST_BUFFER_OFFSET(gst_sample_get_buffer(sample)));
        gst_sample_unref(sample);
        if (i == 0) {
            ASSERT_EQ(kqsimDropFrame(kMono, 2), 0);
        }
    }
    // The pipeline may skip frames of its own (the newest wins) on a busy machine; the lost
    // one alone is warned of, and its number never shows.
    GstMessage* warning = p.message();
    ASSERT_NE(warning, nullptr);
    ASSERT_EQ(GST_MESSAGE_TYPE(warning), GST_MESSAGE_WARNING) << text(warning);
    unsigned long long before = 0;
    ASSERT_EQ(std::sscanf(text(warning).c_str(), "1 frame(s) lost before frame %llu", &before), 1)
        << text(warning);
    EXPECT_NE(std::find(offsets.begin(), offsets.end(), before), offsets.end());
    EXPECT_EQ(std::find(offsets.begin(), offsets.end(), before - 1), offsets.end());
    gst_message_unref(warning);
    GstElement* source = gst_bin_get_by_name(GST_BIN(p.pipeline), "source");
    guint64 lost = 0;
    g_object_get(source, "lost", &lost, nullptr);
    EXPECT_EQ(lost, 1u);
    gst_object_unref(source);
}

TEST_F(GstSource, AnUnplugOrARefusedSettingIsAnErrorThatSaysWhy) {
    {
        Pipeline p("kqfwsrc exposure=10000 camera=KQM");
        ASSERT_NE(p.play(), GST_STATE_CHANGE_FAILURE);
        GstSample* sample = p.pull();
        ASSERT_NE(sample, nullptr);
        gst_sample_unref(sample);
        ASSERT_EQ(kqsimUnplug(kMono), 0);
        GstMessage* error = p.message();
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(GST_MESSAGE_TYPE(error), GST_MESSAGE_ERROR);
        EXPECT_EQ(text(error), "the camera left the bus or the bus was reset; the run ended");
        gst_message_unref(error);
    }
    const struct {
        std::string properties, error;
    } refusals[] = {
        {"exposure=5", "exposure 5 us (the camera takes 400 to 600000000 us) refused (status 8: "},
        {"binning=2", "binning 2 refused (status 8: "},
        {"region=1,2,3", "region '1,2,3' (left,top,right,bottom) refused"},
        {"interpolation=bilinear", "interpolation 'bilinear' (camera, or lmmse in colour) refused"},
        {"camera=KQM", "no KQM (mono) camera present"},  // unplugged above
        {"camera=first", "a camera is named by its place in the list (0 to 9)"},
    };
    for (const auto& r : refusals) {
        Pipeline p("kqfwsrc " + r.properties);
        EXPECT_EQ(p.play(), GST_STATE_CHANGE_FAILURE) << r.properties;
        GstMessage* error = p.message();
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(text(error).rfind(r.error, 0), 0u) << text(error);
        gst_message_unref(error);
    }
    EXPECT_EQ(kqsimOpenHandles(), 0u);
}

TEST_F(GstSource, AHundredPlayingToNullCyclesLeaveNothingBehind) {
    auto cycle = [] {
        Pipeline p("kqfwsrc exposure=1000 camera=KQC");
        ASSERT_NE(p.play(), GST_STATE_CHANGE_FAILURE);
        GstSample* sample = p.pull();
        ASSERT_NE(sample, nullptr);
        gst_sample_unref(sample);
    };
    cycle();  // GStreamer keeps some objects of a type's first use for good
    const guint before = liveObjects();
    for (int i = 0; i < 100; ++i) {
        cycle();
    }
    EXPECT_EQ(liveObjects(), before);
    EXPECT_EQ(kqsimOpenHandles(), 0u);
    uint32_t info[4];
    for (int32_t slot = 0; slot < 10; ++slot) {
        EXPECT_EQ(IxenmInfo(slot, info), KQFW_STATUS_NO_CAMERA) << "slot " << slot;
    }
}

}  // namespace
