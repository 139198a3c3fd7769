// kqcam: the command-line tool for KQ cameras.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "commands.h"
#include "kqfw/kqfw_ext.h"
#include "library_messages.h"

namespace {

const CLI::Validator kAboveZero(
    [](std::string& value) {
        char* end = nullptr;
        const double number = std::strtod(value.c_str(), &end);
        return *end == '\0' && number > 0 ? std::string() : "must be above 0, not " + value;
    },
    "> 0");

void addCamera(CLI::App* command, std::string& camera) {
    command
        ->add_option("-c,--camera", camera,
                     "Camera: its place in kqcam list (0 to 9), its model (KQC or KQM, the "
                     "first listed) or its unique id (0x014a)")
        ->capture_default_str();
}

int run(int argc, char** argv) {
    CLI::App app{"kqcam: list, inspect and use Vestrix KQ FireWire cameras", "kqcam"};
    app.set_version_flag("--version", std::string("kqcam ") + kqfwVersion());
    app.require_subcommand(1);

    app.footer(
        "Each command has its own help with examples: kqcam snap --help.\n"
        "Without camera hardware the cameras are those of the simulated bench (a colour\n"
        "camera at place 0 of the list, a mono one at 1). --camera names a camera by its\n"
        "place in kqcam list, its model or its unique id, as Python's kqfw.Camera does.\n"
        "Exit codes: 0 done, 1 usage error (also a setting the camera refuses, a file that\n"
        "cannot be read or created), 2 no such camera, 3 the camera or a write failed,\n"
        "130 ended by Ctrl-C.");

    app.add_subcommand("list", "List the cameras on the bus")->footer("Example:\n  kqcam list");

    std::string cameraChoice = "0";
    CLI::App* info = app.add_subcommand("info", "Describe one camera");
    addCamera(info, cameraChoice);
    info->footer("Example:\n  kqcam info --camera 1");

    std::string firmwarePath;
    bool confirmed = false;
    CLI::App* firmware = app.add_subcommand("firmware", "Write firmware text into a camera");
    firmware->add_option("file", firmwarePath, "Firmware text, one byte a line")->required();
    addCamera(firmware, cameraChoice);
    firmware->add_flag("--yes", confirmed, "Confirm that the camera's firmware is replaced");
    firmware->footer("Example:\n  kqcam firmware kqc-0305.txt --camera 0 --yes");

    kqcam::SnapOptions snap;
    snap.output = "kqcam-snap.tif";
    CLI::App* snapCommand = app.add_subcommand("snap", "Take one image and write it as a TIFF");
    addCamera(snapCommand, cameraChoice);
    snapCommand->add_option("-o,--output", snap.output, "TIFF file to write")
        ->capture_default_str();
    snapCommand->add_option("--preview", snap.preview,
                            "Also write an 8-bit, contrast-stretched PNG to look at");
    snapCommand
        ->add_option("-r,--resolution", snap.resolution,
                     "Resolution index: 0 to 2 one frame (2 grey); multi-shot 3 full colour, "
                     "4 twice the size, 5 and 6 (colour) three times; kqcam info lists a "
                     "camera's")
        ->capture_default_str()
        ->check(CLI::Range(0, 6));
    snapCommand->add_option("--bits", snap.bits,
                            "14 (grey) or 42 (colour; the colour model's default)");
    snapCommand
        ->add_option("-b,--binning", snap.binning,
                     "Binning, 1 to 5 (which the settings allow: kqcam info)")
        ->capture_default_str()
        ->check(CLI::Range(1, 5));
    snapCommand->add_option("-e,--exposure", snap.exposureUs,
                            "Exposure in microseconds (default the camera's; range: kqcam info)");
    snapCommand
        ->add_option("-g,--gain", snap.gain, "Analogue gain, 0 to 255 (default the camera's)")
        ->check(CLI::Range(0, 255));
    snapCommand
        ->add_option("--white-balance", snap.whiteBalance,
                     "Red, green and blue factors, positive (default 1.49 1.98 1)")
        ->expected(3);
    const char* interpolationHelp =
        "Full-size colour images (resolution 0, bits 42, binning 1): camera (the camera API's "
        "2x2 blocks, the default) or lmmse (directional LMMSE: sharper, pixel-centred)";
    snapCommand->add_option("--interpolation", snap.interpolation, interpolationHelp)
        ->check(CLI::IsMember({"camera", "lmmse"}));
    snapCommand->add_flag("--scale16", snap.scaleTo16, "Scale the 14-bit samples to 16 bits");
    snapCommand->add_option("--black-ref", snap.blackRef, "Black reference file to apply");
    snapCommand->add_option("--white-ref", snap.whiteRef, "White reference file to apply");
    const char* sceneHelp = "Simulated bench only: slide, flat or dark under the camera";
    snapCommand->add_option("--scene", snap.scene, sceneHelp)
        ->check(CLI::IsMember({"slide", "flat", "dark"}));
    snapCommand->footer(
        "Examples:\n"
        "  kqcam snap --output slide.tif --preview slide.png\n"
        "  kqcam snap --camera 1 --exposure 20000 --gain 40 --output mono.tif\n"
        "  kqcam snap --resolution 5 --output big.tif        (multi-shot, 4164 x 3120)\n"
        "  kqcam snap --black-ref black.ref --white-ref white.ref --output flat.tif");

    // stream and series share the snapshot's settings and add how long the run lasts.
    kqcam::RunOptions run;
    CLI::App* streamCommand = app.add_subcommand(
        "stream", "Continuous acquisition: show frames/s and lost frames, write the frames");
    CLI::App* seriesCommand =
        app.add_subcommand("series", "Fast acquisition: a series of frames, shown and written");
    for (CLI::App* command : {streamCommand, seriesCommand}) {
        addCamera(command, cameraChoice);
        command->add_option("-o,--output", run.settings.output,
                            "Multi-page TIFF to write (BigTIFF when it may pass 4 GB); without "
                            "it frames are only counted");
        command->add_option("--preview", run.settings.preview,
                            "Also write the last frame written as an 8-bit PNG");
        command
            ->add_option("-n,--frames", run.frames,
                         "Stop after this many frames (without --frames or --seconds: at "
                         "Ctrl-C)")
            ->check(kAboveZero);
        command->add_option("-s,--seconds", run.seconds, "Stop after this many seconds")
            ->check(kAboveZero);
        command->add_option("--every", run.every, "Write every k-th frame")
            ->capture_default_str()
            ->check(CLI::PositiveNumber);
        command->add_option("-r,--resolution", run.settings.resolution, "Resolution index, 0 to 2")
            ->capture_default_str()
            ->check(CLI::Range(0, 2));
        command->add_option("--bits", run.settings.bits,
                            "14 (grey) or 42 (colour; the colour model's default)");
        command->add_option("-b,--binning", run.settings.binning, "Binning, 1 to 5")
            ->capture_default_str()
            ->check(CLI::Range(1, 5));
        command->add_option("-e,--exposure", run.settings.exposureUs,
                            "Exposure in microseconds (default the camera's; range: kqcam info)");
        command->add_option("--interpolation", run.settings.interpolation, interpolationHelp)
            ->check(CLI::IsMember({"camera", "lmmse"}));
        command->add_flag("--scale16", run.settings.scaleTo16,
                          "Scale the 14-bit samples to 16 bits");
        command->add_option("--scene", run.settings.scene, sceneHelp)
            ->check(CLI::IsMember({"slide", "flat", "dark"}));
    }
    streamCommand->footer(
        "Examples:\n"
        "  kqcam stream --seconds 10                        (frames/s and lost frames only)\n"
        "  kqcam stream --frames 50 --every 5 --output live.tif\n"
        "  kqcam stream --output long.tif                   (records until Ctrl-C)");
    seriesCommand->footer(
        "Example:\n  kqcam series --camera 1 --frames 20 --exposure 5000 --output series.tif");

    uint32_t calResolution = 4;
    int32_t iterations = 4;
    CLI::App* calibrateCommand =
        app.add_subcommand("calibrate", "Calibrate the sensor shift of a multi-shot resolution");
    addCamera(calibrateCommand, cameraChoice);
    calibrateCommand
        ->add_option("-r,--resolution", calResolution,
                     "3, 4 or 5 on the colour model, 4 or 5 on the mono one (5 calibrates 6 too)")
        ->capture_default_str()
        ->check(CLI::Range(3, 5));
    calibrateCommand->add_option("-n,--iterations", iterations, "Iterations (4 is usually enough)")
        ->capture_default_str()
        ->check(CLI::Range(1, 100));
    calibrateCommand->footer(
        "Put a specimen with fine, high-contrast texture at the centre of the field (a stained\n"
        "section, a dust or bead slide), focus, and light it brightly: the run measures the\n"
        "shots on the centre of the sensor.\n"
        "Example:\n  kqcam calibrate --resolution 4 --iterations 4\n"
        "Save the tables first to be able to go back: kqcam calibration save before.cal");
    std::string calAction, calPath;
    CLI::App* calibrationCommand = app.add_subcommand(
        "calibration", "Save or load the shift tables as a file, or reset them to the factory's");
    calibrationCommand->add_option("action", calAction, "save, load or reset")
        ->required()
        ->check(CLI::IsMember({"save", "load", "reset"}));
    calibrationCommand->add_option("file", calPath, "The 256-byte calibration file");
    calibrationCommand->add_flag("--yes", confirmed,
                                 "Confirm that load replaces the calibration in the flash");
    addCamera(calibrationCommand, cameraChoice);
    calibrationCommand->footer(
        "Examples:\n  kqcam calibration save kqc.cal\n  kqcam calibration load kqc.cal --yes\n"
        "  kqcam calibration reset");

    kqcam::ReferenceOptions refs;
    CLI::App* refsCommand =
        app.add_subcommand("refs", "Measure a black (dark) or white (flat-field) reference");
    refsCommand->add_option("kind", refs.kind, "black or white")
        ->required()
        ->check(CLI::IsMember({"black", "white"}));
    addCamera(refsCommand, cameraChoice);
    refsCommand->add_option("-s,--save", refs.output, "File to save the reference to")->required();
    refsCommand->add_option("-e,--exposure", refs.exposureUs,
                            "White: exposure in microseconds (black uses its own)");
    refsCommand->add_option("--scene", refs.scene, sceneHelp)
        ->check(CLI::IsMember({"slide", "flat", "dark"}));
    refsCommand->footer(
        "Examples (cover the camera for black; an empty, evenly lit field for white):\n"
        "  kqcam refs black --save black.ref\n"
        "  kqcam refs white --exposure 30000 --save white.ref\n"
        "  kqcam snap --black-ref black.ref --white-ref white.ref --output flat.tif");

    kqcam::ViewOptions viewOptions;
    CLI::App* viewCommand = app.add_subcommand(
        "view", "A live view in the browser: settings, snaps, references, statistics");
    addCamera(viewCommand, cameraChoice);
    viewCommand->add_option("-p,--port", viewOptions.port, "Port to serve on (0: any free one)")
        ->capture_default_str();
    viewCommand->add_option("--listen", viewOptions.listen,
                            "Address to listen on instead of 127.0.0.1 only (0.0.0.0: every "
                            "network); then each request needs the token printed at start");
    viewCommand->footer(
        "Open the address it prints in a browser; Ctrl-C stops the camera and the server.\n"
        "Examples:\n"
        "  kqcam view\n"
        "  kqcam view --camera KQM --port 9000\n"
        "  kqcam view --listen 0.0.0.0          (from another machine, with the token)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kqcam::kExitOk : kqcam::kExitUsage;
    }
    if (app.got_subcommand("list")) {
        return kqcam::listCameras();
    }
    int32_t camera = 0;
    if (int code = kqcam::chooseCamera(cameraChoice, &camera)) {
        return code;
    }
    if (app.got_subcommand("snap")) {
        return kqcam::snap(camera, snap);
    }
    if (app.got_subcommand("stream") || app.got_subcommand("series")) {
        return app.got_subcommand("stream") ? kqcam::stream(camera, run)
                                            : kqcam::series(camera, run);
    }
    if (app.got_subcommand("view")) {
        return kqcam::view(camera, viewOptions);
    }
    if (app.got_subcommand("calibrate")) {
        return kqcam::calibrate(camera, calResolution, iterations);
    }
    if (app.got_subcommand("calibration")) {
        if (calAction != "reset" && calPath.empty()) {
            std::fprintf(stderr, "kqcam: calibration %s needs a file\n", calAction.c_str());
            return kqcam::kExitUsage;
        }
        return kqcam::calibrationFile(camera, calAction, calPath, confirmed);
    }
    if (app.got_subcommand("refs")) {
        return kqcam::measureReference(camera, refs);
    }
    if (app.got_subcommand("firmware")) {
        return kqcam::writeFirmware(camera, firmwarePath, confirmed);
    }
    return kqcam::describeCamera(camera);
}

}  // namespace

int main(int argc, char** argv) {
    kqcam::captureLibraryMessages();
    const int code = run(argc, argv);
    kqcam::flushLibraryMessages();
    return code;
}
