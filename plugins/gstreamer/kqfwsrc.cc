// kqfwsrc: the cameras as a GStreamer live source. The library's dispatch thread hands the
// newest raw frame over and returns at once; the streaming thread processes it into a buffer.
// A slow pipeline therefore skips frames (the newest wins) and never slows the camera.
#include "kqfwsrc.h"

#include <gst/video/video.h>

#include <atomic>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "camera_choice.h"
#include "delivered_image.h"
#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"

GST_DEBUG_CATEGORY_STATIC(kqfwsrc_debug);
#define GST_CAT_DEFAULT kqfwsrc_debug

namespace {

enum Property : guint {
    kPropCamera = 1,
    kPropExposure,
    kPropGain,
    kPropWhiteBalance,
    kPropBinning,
    kPropRegion,
    kPropResolution,
    kPropBits,
    kPropColourProcessing,
    kPropInterpolation,
    kPropPacking,
    kPropCompression8,
    kPropScale16,
    kPropDelivered,
    kPropLost,
    kPropSkipped,
};

constexpr uint16_t kOpaque = 0xFFFF;

// The properties, as the application set them; applied when the element starts.
struct Settings {
    std::string camera = "0";
    guint exposureUs = 0;      // 0: the camera's
    gint gain = -1;            // -1: the camera's
    std::string whiteBalance;  // "red,green,blue"; empty: the camera's
    guint binning = 1;
    std::string region;  // "left,top,right,bottom"; empty: the whole image
    guint resolution = 0;
    guint bits = 0;  // 0: the model's own (42 colour, 14 mono)
    bool colourProcessing = false;
    std::string interpolation = "camera";  // or "lmmse" (kqfwSetColourInterpolation)
    bool packing = true;
    bool compression8 = false;
    bool scale16 = false;
};

// The newest raw frame of the run, from the dispatch thread to the streaming thread.
struct Handoff {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<uint8_t> frame;
    bool pending = false;
    int32_t index = -1;
    GstClockTime arrival = GST_CLOCK_TIME_NONE;
    uint64_t skipped = 0;  // frames replaced before the streaming thread took them
    uint64_t lost = 0;     // the run's lost frames when the pending frame was handed over
    bool ended = false;    // the run ended by itself (the camera left, the bus was reset)
    bool flushing = false;
};

struct State {
    Settings settings;  // under the object lock
    Handoff handoff;
    std::atomic<int32_t> slot{-1};  // the open camera's slot, -1 when none (read by property calls)
    IpContext* context = nullptr;
    GstVideoInfo info{};
    bool colour = false;
    size_t imageSamples = 0;
    guint64 periodNs = 0;
    bool multiShot = false;
    bool running = false;
    uint64_t lostReported = 0;
    guint64 shots = 0;  // multi-shot images pushed
    std::vector<uint8_t> taken;
    std::vector<uint16_t> image;
};

}  // namespace

struct _GstKqfwSrc {
    GstPushSrc parent;
    State* state;
};

G_DEFINE_TYPE(GstKqfwSrc, gst_kqfw_src, GST_TYPE_PUSH_SRC)

namespace {

GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ GRAY16_LE, BGRA64_LE }")));

std::string statusWords(StatusCode status) {
    return "status " + std::to_string(status) + ": " + kqfwStatusText(status);
}

// A refused setting ends the start with an error that names it and the value.
bool refuse(GstKqfwSrc* src, const std::string& what, StatusCode status) {
    GST_ELEMENT_ERROR(src, RESOURCE, SETTINGS,
                      ("%s refused (%s)", what.c_str(), statusWords(status).c_str()), (nullptr));
    return false;
}

bool parseNumbers(const std::string& text, size_t count, double* out) {
    const char* p = text.c_str();
    for (size_t i = 0; i < count; ++i) {
        char* end = nullptr;
        out[i] = std::strtod(p, &end);
        if (end == p || (i + 1 < count ? *end != ',' : *end != '\0')) {
            return false;
        }
        p = end + 1;
    }
    return true;
}

bool applySettings(GstKqfwSrc* src, const Settings& s) {
    const int32_t c = src->state->slot;
    if (StatusCode st = IxenmSetResolution(c, s.resolution)) {
        return refuse(src, "resolution " + std::to_string(s.resolution), st);
    }
    if (s.bits != 0) {
        if (StatusCode st = IxenmSetBitsPerPixel(c, static_cast<int32_t>(s.bits))) {
            return refuse(src, "bits " + std::to_string(s.bits), st);
        }
    }
    if (StatusCode st = IxenmEnablePacking(c, s.packing ? 1 : 0)) {
        return refuse(src, "packing", st);
    }
    if (StatusCode st = IxenmEnable8bitCompression(c, s.compression8 ? 1 : 0)) {
        return refuse(src, "compression8", st);
    }
    if (StatusCode st = IxenmSetBinning(c, static_cast<int32_t>(s.binning))) {
        return refuse(src, "binning " + std::to_string(s.binning), st);
    }
    if (!s.region.empty()) {
        double r[4];
        if (!parseNumbers(s.region, 4, r)) {
            return refuse(src, "region '" + s.region + "' (left,top,right,bottom)",
                          KQFW_STATUS_BAD_ARGUMENT);
        }
        uint32_t rect[4];
        for (int i = 0; i < 4; ++i) {
            if (r[i] < 0 || r[i] > 65535) {
                return refuse(src, "region '" + s.region + "'", KQFW_STATUS_BAD_ARGUMENT);
            }
            rect[i] = static_cast<uint32_t>(r[i]);
        }
        if (StatusCode st = IxenmSetImageSize(c, rect)) {
            return refuse(src, "region '" + s.region + "'", st);
        }
    }
    if (s.exposureUs != 0) {
        if (StatusCode st = IxenmSetExposure(c, s.exposureUs)) {
            uint32_t low = 0, high = 0, step = 0;
            IxenmGetExposureRange(c, &low, &high, &step);
            return refuse(src,
                          "exposure " + std::to_string(s.exposureUs) + " us (the camera takes " +
                              std::to_string(low) + " to " + std::to_string(high) + " us)",
                          st);
        }
    }
    if (s.gain >= 0) {
        if (StatusCode st = IxenmWriteAnalogGain(c, static_cast<uint32_t>(s.gain))) {
            return refuse(src, "gain " + std::to_string(s.gain) + " (0 to 255)", st);
        }
    }
    if (!s.whiteBalance.empty()) {
        double wb[3];
        StatusCode st = parseNumbers(s.whiteBalance, 3, wb)
                            ? IxenmSetWhiteBalance(c, wb[0], wb[1], wb[2])
                            : static_cast<StatusCode>(KQFW_STATUS_BAD_ARGUMENT);
        if (st != KQFW_STATUS_OK) {
            return refuse(src, "white-balance '" + s.whiteBalance + "' (red,green,blue)", st);
        }
    }
    if (StatusCode st = IxenmEnableColorProcessing(c, s.colourProcessing ? 1 : 0)) {
        return refuse(src, "colour-processing", st);
    }
    const bool lmmse = s.interpolation == "lmmse";
    const StatusCode st = lmmse || s.interpolation == "camera"
                              ? kqfwSetColourInterpolation(
                                    c, lmmse ? KQFW_INTERPOLATION_LMMSE : KQFW_INTERPOLATION_CAMERA)
                              : static_cast<StatusCode>(KQFW_STATUS_BAD_ARGUMENT);
    if (st != KQFW_STATUS_OK) {
        return refuse(src, "interpolation '" + s.interpolation + "' (camera, or lmmse in colour)",
                      st);
    }
    return true;
}

// Opens the camera the `camera` property names into a free slot of this process.
bool openCamera(GstKqfwSrc* src, const std::string& choice) {
    int32_t position = -1;
    std::string why;
    if (kqtools::chooseCamera(choice, &position, &why) != kqtools::Choice::kFound) {
        GST_ELEMENT_ERROR(src, RESOURCE, NOT_FOUND, ("%s", why.c_str()), (nullptr));
        return false;
    }
    KqfwListedCamera listed[10];
    int32_t count = 0;
    kqfwListCameras(listed, 10, &count);
    if (position < count && position < 10 && listed[position].slot >= 0) {
        GST_ELEMENT_ERROR(src, RESOURCE, BUSY,
                          ("camera %s is open already in this process (slot %d)", choice.c_str(),
                           listed[position].slot),
                          (nullptr));
        return false;
    }
    StatusCode status = KQFW_STATUS_BUSY;
    for (int32_t slot = 0; slot < 10 && status == KQFW_STATUS_BUSY; ++slot) {
        status = kqfwInitListed(slot, position);
        if (status == KQFW_STATUS_OK) {
            src->state->slot = slot;
        }
    }
    if (status != KQFW_STATUS_OK) {
        GST_ELEMENT_ERROR(
            src, RESOURCE, OPEN_READ,
            ("camera %s could not be opened (%s)", choice.c_str(), statusWords(status).c_str()),
            (nullptr));
        return false;
    }
    return true;
}

int32_t onFrame(uint16_t* frame, uint32_t frameBytes, int32_t frameIndex, uint64_t, uint64_t user) {
    auto* src = reinterpret_cast<GstKqfwSrc*>(static_cast<uintptr_t>(user));
    Handoff& h = src->state->handoff;
    GstClockTime arrival = GST_CLOCK_TIME_NONE;
    if (GstClock* clock = gst_element_get_clock(GST_ELEMENT(src))) {
        arrival = gst_clock_get_time(clock) - gst_element_get_base_time(GST_ELEMENT(src));
        gst_object_unref(clock);
    }
    // The count as the run knew it when it delivered this frame: read later, it could already
    // hold a loss after this frame and blame the wrong one.
    KqfwRunStatistics run{};
    const bool counted = kqfwGetRunStatistics(src->state->slot, &run) == KQFW_STATUS_OK;
    std::lock_guard lock(h.lock);
    if (frame == nullptr) {
        h.ended = true;
    } else {
        if (h.pending) {
            ++h.skipped;
        }
        h.frame.assign(reinterpret_cast<const uint8_t*>(frame),
                       reinterpret_cast<const uint8_t*>(frame) + frameBytes);
        h.pending = true;
        h.index = frameIndex;
        h.arrival = arrival;
        if (counted) {
            h.lost = run.framesLost;
        }
    }
    h.changed.notify_all();
    return frame == nullptr ? 0 : 1;
}

int32_t onShotProgress(uint32_t, uint32_t, int32_t, uint64_t user) {
    auto* src = reinterpret_cast<GstKqfwSrc*>(static_cast<uintptr_t>(user));
    std::lock_guard lock(src->state->handoff.lock);
    return src->state->handoff.flushing ? 1 : 0;
}

// The library's image (B, G, R or grey, 14 bits) into the buffer's rows.
void fill(const State& s, bool scale16, GstVideoFrame* out) {
    const uint32_t width = GST_VIDEO_INFO_WIDTH(&s.info);
    const uint32_t height = GST_VIDEO_INFO_HEIGHT(&s.info);
    const int shift = scale16 ? 2 : 0;
    auto* base = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(out, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(out, 0);
    for (uint32_t y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint16_t*>(base + size_t(y) * stride);
        if (s.colour) {
            const uint16_t* in = s.image.data() + size_t(y) * width * 3;
            for (uint32_t x = 0; x < width; ++x) {
                row[4 * x + 0] = static_cast<uint16_t>(in[3 * x + 0] << shift);
                row[4 * x + 1] = static_cast<uint16_t>(in[3 * x + 1] << shift);
                row[4 * x + 2] = static_cast<uint16_t>(in[3 * x + 2] << shift);
                row[4 * x + 3] = kOpaque;
            }
        } else {
            const uint16_t* in = s.image.data() + size_t(y) * width;
            for (uint32_t x = 0; x < width; ++x) {
                row[x] = static_cast<uint16_t>(in[x] << shift);
            }
        }
    }
}

GstFlowReturn pushImage(GstKqfwSrc* src, GstClockTime pts, guint64 offset, GstBuffer** out) {
    State& s = *src->state;
    GST_OBJECT_LOCK(src);
    const bool scale16 = s.settings.scale16;
    GST_OBJECT_UNLOCK(src);
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&s.info), nullptr);
    GstVideoFrame frame;
    if (buffer == nullptr || !gst_video_frame_map(&frame, &s.info, buffer, GST_MAP_WRITE)) {
        if (buffer != nullptr) {
            gst_buffer_unref(buffer);
        }
        GST_ELEMENT_ERROR(src, RESOURCE, FAILED, ("no memory for a buffer"), (nullptr));
        return GST_FLOW_ERROR;
    }
    fill(s, scale16, &frame);
    gst_video_frame_unmap(&frame);
    GST_BUFFER_PTS(buffer) = pts;
    GST_BUFFER_DURATION(buffer) = s.periodNs;
    GST_BUFFER_OFFSET(buffer) = offset;
    GST_BUFFER_OFFSET_END(buffer) = offset + 1;
    *out = buffer;
    return GST_FLOW_OK;
}

GstFlowReturn createMultiShot(GstKqfwSrc* src, GstBuffer** out) {
    State& s = *src->state;
    const StatusCode status = static_cast<StatusCode>(IxenmAcquisitionEx(
        s.slot, s.image.data(), static_cast<uint32_t>(s.image.size() * 2), onShotProgress,
        static_cast<uint64_t>(reinterpret_cast<uintptr_t>(src))));
    {
        std::lock_guard lock(s.handoff.lock);
        if (s.handoff.flushing) {
            return GST_FLOW_FLUSHING;
        }
    }
    if (status != KQFW_STATUS_OK) {
        GST_ELEMENT_ERROR(src, RESOURCE, READ,
                          ("the multi-shot image failed (%s)", statusWords(status).c_str()),
                          (nullptr));
        return GST_FLOW_ERROR;
    }
    GstClockTime now = GST_CLOCK_TIME_NONE;
    if (GstClock* clock = gst_element_get_clock(GST_ELEMENT(src))) {
        now = gst_clock_get_time(clock) - gst_element_get_base_time(GST_ELEMENT(src));
        gst_object_unref(clock);
    }
    return pushImage(src, now, s.shots++, out);
}

GstFlowReturn create(GstPushSrc* push, GstBuffer** out) {
    auto* src = GST_KQFW_SRC(push);
    State& s = *src->state;
    if (s.multiShot) {
        return createMultiShot(src, out);
    }
    if (!s.running) {
        const int32_t started = IxenmStartContinuousAcquisition(
            s.slot, 0, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(src)));
        if (started != 0) {
            GST_ELEMENT_ERROR(src, RESOURCE, READ,
                              ("the continuous run did not start (%s)",
                               statusWords(static_cast<StatusCode>(started)).c_str()),
                              (nullptr));
            return GST_FLOW_ERROR;
        }
        s.running = true;
    }
    int32_t index = 0;
    uint64_t lost = 0;
    GstClockTime arrival = GST_CLOCK_TIME_NONE;
    {
        std::unique_lock lock(s.handoff.lock);
        s.handoff.changed.wait(
            lock, [&] { return s.handoff.pending || s.handoff.ended || s.handoff.flushing; });
        if (s.handoff.flushing) {
            return GST_FLOW_FLUSHING;
        }
        if (!s.handoff.pending) {
            GST_ELEMENT_ERROR(src, RESOURCE, READ,
                              ("the camera left the bus or the bus was reset; the run ended"),
                              (nullptr));
            return GST_FLOW_ERROR;
        }
        s.taken.swap(s.handoff.frame);
        s.handoff.pending = false;
        index = s.handoff.index;
        arrival = s.handoff.arrival;
        lost = s.handoff.lost;
    }
    // The driver numbers the frames that arrived; the offset numbers the frames the camera
    // sent, so a lost frame is a gap as a skipped one is (by the run or here, when the pipeline
    // fell behind), and only the lost ones are warned of.
    const guint64 offset = static_cast<guint64>(index) + lost;
    if (lost > s.lostReported) {
        GST_ELEMENT_WARNING(
            src, RESOURCE, READ,
            ("%" PRIu64 " frame(s) lost before frame %" PRIu64, lost - s.lostReported, offset),
            (nullptr));
        s.lostReported = lost;
    }
    // The offline context has no room for the interpolation: each frame is given the camera's.
    int32_t interpolation = KQFW_INTERPOLATION_CAMERA;
    kqfwGetColourInterpolation(s.slot, &interpolation);
    const StatusCode status =
        kqfwExecuteIPFunctionEx(s.context, s.image.data(), s.taken.data(), interpolation);
    if (status != KQFW_STATUS_OK) {
        GST_ELEMENT_ERROR(
            src, RESOURCE, READ,
            ("frame %d could not be processed (%s)", index, statusWords(status).c_str()),
            (nullptr));
        return GST_FLOW_ERROR;
    }
    return pushImage(src, arrival, offset, out);
}

void stopCamera(State& s) {
    if (s.slot < 0) {
        return;
    }
    if (s.running) {
        IxenmStopContinuousAcquisition(s.slot);
        s.running = false;
    }
    IxenmClose(s.slot);
    s.slot = -1;
    s.context = nullptr;
}

gboolean start(GstBaseSrc* base) {
    auto* src = GST_KQFW_SRC(base);
    State& s = *src->state;
    GST_OBJECT_LOCK(src);
    const Settings settings = s.settings;
    GST_OBJECT_UNLOCK(src);
    {
        std::lock_guard lock(s.handoff.lock);
        s.handoff.pending = s.handoff.ended = s.handoff.flushing = false;
        s.handoff.skipped = s.handoff.lost = 0;
    }
    s.lostReported = 0;
    s.shots = 0;
    if (!openCamera(src, settings.camera)) {
        return FALSE;
    }
    if (!applySettings(src, settings)) {
        stopCamera(s);
        return FALSE;
    }
    const kqtools::ImageShape shape = kqtools::deliveredImage(s.slot);
    s.colour = shape.channels == 3;
    s.image.assign(shape.bufferSamples, 0);
    s.multiShot = settings.resolution >= 3;
    gst_video_info_set_format(&s.info,
                              s.colour ? GST_VIDEO_FORMAT_BGRA64_LE : GST_VIDEO_FORMAT_GRAY16_LE,
                              shape.width, shape.height);
    uint32_t readout = 0;
    uint32_t exposure = 0;
    IxenmGetCurrentExposure(s.slot, &exposure);
    IxenmGetCurrentReadouttime(s.slot, &readout);
    const uint64_t periodUs = uint64_t{exposure} + readout;
    s.periodNs = s.multiShot || periodUs == 0 ? GST_CLOCK_TIME_NONE : periodUs * 1000;
    if (!s.multiShot && periodUs != 0) {
        GST_VIDEO_INFO_FPS_N(&s.info) = 1000000;
        GST_VIDEO_INFO_FPS_D(&s.info) = static_cast<gint>(periodUs);
    } else {
        GST_VIDEO_INFO_FPS_N(&s.info) = 0;
        GST_VIDEO_INFO_FPS_D(&s.info) = 1;
    }
    if (!s.multiShot) {
        uint32_t contextBytes = 0, frameBytes = 0;
        if (StatusCode st =
                IxenmGetIPInfo(s.slot, &s.context, &contextBytes, onFrame, &frameBytes)) {
            stopCamera(s);
            GST_ELEMENT_ERROR(src, RESOURCE, SETTINGS,
                              ("the stream cannot be set up (%s)", statusWords(st).c_str()),
                              (nullptr));
            return FALSE;
        }
        s.taken.assign(frameBytes, 0);
    }
    return TRUE;
}

gboolean stop(GstBaseSrc* base) {
    stopCamera(*GST_KQFW_SRC(base)->state);
    return TRUE;
}

gboolean unlock(GstBaseSrc* base) {
    Handoff& h = GST_KQFW_SRC(base)->state->handoff;
    std::lock_guard lock(h.lock);
    h.flushing = true;
    h.changed.notify_all();
    return TRUE;
}

gboolean unlockStop(GstBaseSrc* base) {
    Handoff& h = GST_KQFW_SRC(base)->state->handoff;
    std::lock_guard lock(h.lock);
    h.flushing = false;
    return TRUE;
}

GstCaps* getCaps(GstBaseSrc* base, GstCaps* filter) {
    State& s = *GST_KQFW_SRC(base)->state;
    GstCaps* caps = s.slot >= 0 ? gst_video_info_to_caps(&s.info)
                                : gst_pad_get_pad_template_caps(GST_BASE_SRC_PAD(base));
    if (filter != nullptr) {
        GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

// A frame is stamped when it arrives and pushed once processed, within a frame period.
gboolean query(GstBaseSrc* base, GstQuery* q) {
    State& s = *GST_KQFW_SRC(base)->state;
    if (GST_QUERY_TYPE(q) == GST_QUERY_LATENCY && s.slot >= 0 &&
        GST_CLOCK_TIME_IS_VALID(s.periodNs)) {
        gst_query_set_latency(q, TRUE, s.periodNs, s.periodNs);
        return TRUE;
    }
    return GST_BASE_SRC_CLASS(gst_kqfw_src_parent_class)->query(base, q);
}

guint64 statistic(GstKqfwSrc* src, guint id) {
    State& s = *src->state;
    KqfwRunStatistics run{};
    if (s.slot < 0 || kqfwGetRunStatistics(s.slot, &run) != KQFW_STATUS_OK) {
        return 0;
    }
    if (id == kPropDelivered) {
        return run.framesDelivered;
    }
    if (id == kPropLost) {
        return run.framesLost;
    }
    std::lock_guard lock(s.handoff.lock);
    return run.framesSkipped + s.handoff.skipped;
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* param) {
    auto* src = GST_KQFW_SRC(object);
    GST_OBJECT_LOCK(src);
    Settings& s = src->state->settings;
    switch (id) {
        case kPropCamera:
            s.camera = g_value_get_string(value) ? g_value_get_string(value) : "0";
            break;
        case kPropExposure:
            s.exposureUs = g_value_get_uint(value);
            break;
        case kPropGain:
            s.gain = g_value_get_int(value);
            break;
        case kPropWhiteBalance:
            s.whiteBalance = g_value_get_string(value) ? g_value_get_string(value) : "";
            break;
        case kPropBinning:
            s.binning = g_value_get_uint(value);
            break;
        case kPropRegion:
            s.region = g_value_get_string(value) ? g_value_get_string(value) : "";
            break;
        case kPropResolution:
            s.resolution = g_value_get_uint(value);
            break;
        case kPropBits:
            s.bits = g_value_get_uint(value);
            break;
        case kPropColourProcessing:
            s.colourProcessing = g_value_get_boolean(value);
            break;
        case kPropInterpolation:
            s.interpolation = g_value_get_string(value) ? g_value_get_string(value) : "camera";
            break;
        case kPropPacking:
            s.packing = g_value_get_boolean(value);
            break;
        case kPropCompression8:
            s.compression8 = g_value_get_boolean(value);
            break;
        case kPropScale16:
            s.scale16 = g_value_get_boolean(value);
            break;
        default:
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
    }
    GST_OBJECT_UNLOCK(src);
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* param) {
    auto* src = GST_KQFW_SRC(object);
    if (id == kPropDelivered || id == kPropLost || id == kPropSkipped) {
        g_value_set_uint64(value, statistic(src, id));
        return;
    }
    GST_OBJECT_LOCK(src);
    const Settings& s = src->state->settings;
    switch (id) {
        case kPropCamera:
            g_value_set_string(value, s.camera.c_str());
            break;
        case kPropExposure:
            g_value_set_uint(value, s.exposureUs);
            break;
        case kPropGain:
            g_value_set_int(value, s.gain);
            break;
        case kPropWhiteBalance:
            g_value_set_string(value, s.whiteBalance.c_str());
            break;
        case kPropBinning:
            g_value_set_uint(value, s.binning);
            break;
        case kPropRegion:
            g_value_set_string(value, s.region.c_str());
            break;
        case kPropResolution:
            g_value_set_uint(value, s.resolution);
            break;
        case kPropBits:
            g_value_set_uint(value, s.bits);
            break;
        case kPropColourProcessing:
            g_value_set_boolean(value, s.colourProcessing);
            break;
        case kPropInterpolation:
            g_value_set_string(value, s.interpolation.c_str());
            break;
        case kPropPacking:
            g_value_set_boolean(value, s.packing);
            break;
        case kPropCompression8:
            g_value_set_boolean(value, s.compression8);
            break;
        case kPropScale16:
            g_value_set_boolean(value, s.scale16);
            break;
        default:
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
    }
    GST_OBJECT_UNLOCK(src);
}

void finalize(GObject* object) {
    auto* src = GST_KQFW_SRC(object);
    stopCamera(*src->state);
    delete src->state;
    G_OBJECT_CLASS(gst_kqfw_src_parent_class)->finalize(object);
}

constexpr auto kReady =
    static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY);
constexpr auto kStatistic = static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS);

}  // namespace

static void gst_kqfw_src_class_init(GstKqfwSrcClass* klass) {
    auto* object = G_OBJECT_CLASS(klass);
    auto* element = GST_ELEMENT_CLASS(klass);
    auto* base = GST_BASE_SRC_CLASS(klass);
    object->set_property = setProperty;
    object->get_property = getProperty;
    object->finalize = finalize;
    g_object_class_install_property(
        object, kPropCamera,
        g_param_spec_string("camera", "Camera",
                            "Its place in kqcam list (0 to 9), its model (KQC or KQM, the first "
                            "listed) or its unique id (0x014a)",
                            "0", kReady));
    g_object_class_install_property(
        object, kPropExposure,
        g_param_spec_uint("exposure", "Exposure", "Exposure in microseconds; 0: the camera's", 0,
                          G_MAXUINT32, 0, kReady));
    g_object_class_install_property(
        object, kPropGain,
        g_param_spec_int("gain", "Gain", "Analogue gain 0 to 255; -1: the camera's", -1, 255, -1,
                         kReady));
    g_object_class_install_property(
        object, kPropWhiteBalance,
        g_param_spec_string("white-balance", "White balance",
                            "Factors red,green,blue (a larger factor lowers its colour); empty: "
                            "the camera's",
                            "", kReady));
    g_object_class_install_property(
        object, kPropBinning,
        g_param_spec_uint("binning", "Binning", "Binning factor 1 to 5 (which depends on bits)", 1,
                          5, 1, kReady));
    g_object_class_install_property(
        object, kPropRegion,
        g_param_spec_string("region", "Region",
                            "left,top,right,bottom in image pixels; empty: the whole image", "",
                            kReady));
    g_object_class_install_property(
        object, kPropResolution,
        g_param_spec_uint("resolution", "Resolution",
                          "0 to 2 stream live; 3 to 6 give one multi-shot image a buffer", 0, 6, 0,
                          kReady));
    g_object_class_install_property(
        object, kPropBits,
        g_param_spec_uint("bits", "Bits", "42 colour, 14 one sample a pixel; 0: the model's own", 0,
                          42, 0, kReady));
    g_object_class_install_property(
        object, kPropColourProcessing,
        g_param_spec_boolean("colour-processing", "Colour processing",
                             "Apply the colour matrix to colour images", FALSE, kReady));
    g_object_class_install_property(
        object, kPropInterpolation,
        g_param_spec_string("interpolation", "Interpolation",
                            "Full-size colour images (resolution 0, bits 42, binning 1): camera "
                            "(the camera API's 2x2 blocks) or lmmse (directional LMMSE: sharper, "
                            "pixel-centred)",
                            "camera", kReady));
    g_object_class_install_property(
        object, kPropPacking,
        g_param_spec_boolean("packing", "Packing", "12-bit packed transfer", TRUE, kReady));
    g_object_class_install_property(
        object, kPropCompression8,
        g_param_spec_boolean("compression8", "8-bit compression", "8-bit compressed transfer",
                             FALSE, kReady));
    g_object_class_install_property(
        object, kPropScale16,
        g_param_spec_boolean("scale16", "Scale to 16 bits",
                             "Shift the 14-bit samples to the full 16-bit range (for display)",
                             FALSE, kReady));
    g_object_class_install_property(
        object, kPropDelivered,
        g_param_spec_uint64("delivered", "Delivered", "Frames the run handed over", 0, G_MAXUINT64,
                            0, kStatistic));
    g_object_class_install_property(object, kPropLost,
                                    g_param_spec_uint64("lost", "Lost", "Frames that never arrived",
                                                        0, G_MAXUINT64, 0, kStatistic));
    g_object_class_install_property(
        object, kPropSkipped,
        g_param_spec_uint64("skipped", "Skipped",
                            "Frames skipped because the pipeline or the run fell behind", 0,
                            G_MAXUINT64, 0, kStatistic));
    gst_element_class_set_static_metadata(element, "KQ camera source", "Source/Video",
                                          "Images of the Vestrix KQ FireWire microscope cameras",
                                          "kqfw developers");
    gst_element_class_add_static_pad_template(element, &srcTemplate);
    base->start = start;
    base->stop = stop;
    base->unlock = unlock;
    base->unlock_stop = unlockStop;
    base->get_caps = getCaps;
    base->query = query;
    GST_PUSH_SRC_CLASS(klass)->create = create;
}

static void gst_kqfw_src_init(GstKqfwSrc* src) {
    src->state = new State();
    gst_base_src_set_live(GST_BASE_SRC(src), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(src), GST_FORMAT_TIME);
}

gboolean gst_kqfw_src_register(GstPlugin* plugin) {
    GST_DEBUG_CATEGORY_INIT(kqfwsrc_debug, "kqfwsrc", 0, "KQ camera source");
    return gst_element_register(plugin, "kqfwsrc", GST_RANK_NONE, GST_TYPE_KQFW_SRC);
}
