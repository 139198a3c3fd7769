#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "kqfw/kqsim.h"

namespace kqfw::sim {

// One piece of a separable scene: colour × X(u) × Y(v), with u and v in sensor pixels.
struct Profile {
    enum class Kind { kBox, kGrating, kGauss } kind = Kind::kBox;
    double a = 0, b = 0;   // box or grating extent [a, b); gauss centre a, width b
    double frequency = 0;  // grating cycles per pixel
};

struct Feature {
    float colour[3];  // added radiance (red, green, blue); negative absorbs
    Profile x, y;
};

// What lies under the camera: a continuous radiance field (red, green, blue; white = 1) over
// the sensor, in sensor pixel coordinates. Immutable once built; shared by frames in flight.
class Scene {
  public:
    static std::shared_ptr<const Scene> testSlide(uint32_t sensorWidth, uint32_t sensorHeight);
    static std::shared_ptr<const Scene> flat(double level);
    static std::shared_ptr<const Scene> image(const uint16_t* samples, uint32_t width,
                                              uint32_t height, uint32_t channels,
                                              uint32_t sensorWidth, uint32_t sensorHeight);

    // Radiance of the pixels of a region, blurred by the optics and integrated over each pixel,
    // with the sensor displaced by (dx, dy) pixels. rgb holds 3 floats a pixel, rows packed.
    void renderRegion(int32_t left, int32_t top, int32_t width, int32_t height, double dx,
                      double dy, double blurSigma, float* rgb) const;

    // The undisturbed radiance at a point (no blur, no pixel): the ground truth.
    void radianceAt(double u, double v, float rgb[3]) const;

  private:
    void renderImage(int32_t left, int32_t top, int32_t width, int32_t height, double dx, double dy,
                     double blurSigma, float* rgb) const;

    float background_[3] = {0, 0, 0};
    std::vector<Feature> features_;
    // An image scene: samples scaled to radiance, bilinear between pixel centres, held at the
    // edges (sim_scene_image.cc).
    std::vector<float> image_;
    uint32_t imageWidth_ = 0, imageHeight_ = 0;
    double scaleU_ = 1, scaleV_ = 1;
};

}  // namespace kqfw::sim
