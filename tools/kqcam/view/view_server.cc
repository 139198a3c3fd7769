// kqcam view: a live view in the browser, served on this machine (or, with --listen, on the
// network behind a token printed at start).
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

#include "../commands.h"
#include "kqfw/kqfw_ext.h"
#include "kqfw/kqsim.h"
#include "view_control.h"
#include "view_page.h"

namespace kqcam {

namespace {

using nlohmann::json;
constexpr size_t kMaxBody = 16 * 1024;
constexpr auto kFrameWait = std::chrono::milliseconds(2000);
constexpr auto kSignalPoll = std::chrono::milliseconds(50);
constexpr int kServerThreads = 16;

std::atomic<int> interrupted{0};

void onInterrupt(int) {
    interrupted = 1;
}

std::string newToken() {
    std::random_device random;
    std::string token;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
        token += part;
    }
    return token;
}

// Compares without stopping at the first difference, so timing tells nothing of the token.
bool sameToken(const std::string& given, const std::string& token) {
    unsigned difference = given.size() != token.size() ? 1u : 0u;
    for (size_t i = 0; i < token.size(); ++i) {
        difference |= static_cast<unsigned>(given[i < given.size() ? i : 0] ^ token[i]);
    }
    return difference == 0 && !given.empty();
}

void replyJson(httplib::Response& res, int status, const json& body) {
    res.status = status;
    // A name cut in the middle of a character must not fail the reply.
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

// The bench's number of the camera open in `slot`, or -1 for a camera on real hardware.
int32_t benchCameraOf(int32_t slot) {
    KqfwCameraDescription d{};
    kqfwDescribeCamera(slot, &d);
    char path[256];
    for (int32_t i = 0; i < kqsimCameraCount(); ++i) {
        if (kqsimDevicePath(i, path, sizeof path) == 0 && std::strcmp(path, d.devicePath) == 0) {
            return i;
        }
    }
    return -1;
}

// Who may ask: with a token, only requests that carry it; without one (loopback only), only
// requests that name this machine as their host, so a web page elsewhere cannot reach the
// camera through a name of its own that points here.
bool admitted(const httplib::Request& req, const std::string& token, int port) {
    if (!token.empty()) {
        const std::string given = req.has_param("token") ? req.get_param_value("token")
                                                         : req.get_header_value("X-Kqcam-Token");
        return sameToken(given, token);
    }
    const std::string host = req.get_header_value("Host");
    const std::string suffix = ":" + std::to_string(port);
    return host == "127.0.0.1" + suffix || host == "localhost" + suffix;
}

void addRoutes(httplib::Server& server, kqview::LiveCamera& live, kqview::Control& control) {
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kqview::kPage, "text/html; charset=utf-8");
    });
    server.Get("/frame.jpg", [&](const httplib::Request& req, httplib::Response& res) {
        uint64_t after = 0;
        if (req.has_param("after")) {
            const std::string text = req.get_param_value("after");
            const bool digits = !text.empty() && text.size() <= 19 &&
                                text.find_first_not_of("0123456789") == std::string::npos;
            if (!digits) {
                replyJson(res, 400, {{"ok", false}, {"error", "after must be a frame number"}});
                return;
            }
            after = std::stoull(text);
        }
        const auto frame = live.newerThan(after, kFrameWait);
        if (!frame) {
            replyJson(res, 503, {{"ok", false}, {"error", "no new frame"}});
            return;
        }
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Frame-Sequence", std::to_string(frame->sequence));
        res.set_header("X-Frame-Index", std::to_string(frame->index));
        // How long ago the library handed the frame over: the page adds its own decoding to
        // tell the latency from frame to screen.
        const auto age = std::chrono::steady_clock::now() - frame->arrival;
        res.set_header(
            "X-Frame-Age-Ms",
            std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(age).count()));
        res.set_content(frame->jpeg, "image/jpeg");
    });
    server.Get("/status", [&](const httplib::Request&, httplib::Response& res) {
        replyJson(res, 200, control.status());
    });
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
            replyJson(res, 500, {{"ok", false}, {"error", "the request could not be served"}});
        });
    server.Post("/control", [&](const httplib::Request& req, httplib::Response& res) {
        // JSON only: a page elsewhere cannot send it without asking first, which is not answered.
        if (req.get_header_value("Content-Type").rfind("application/json", 0) != 0) {
            replyJson(res, 415, {{"ok", false}, {"error", "send JSON (application/json)"}});
            return;
        }
        const kqview::Reply reply = control.command(req.body);
        replyJson(res, reply.http, reply.body);
    });
    server.Get(R"(/snaps/([A-Za-z0-9._-]+))",
               [&](const httplib::Request& req, httplib::Response& res) {
                   const std::string path = control.snapPath(req.matches[1]);
                   std::FILE* file = path.empty() ? nullptr : std::fopen(path.c_str(), "rb");
                   if (file == nullptr) {
                       replyJson(res, 404, {{"ok", false}, {"error", "no such snap"}});
                       return;
                   }
                   std::string data;
                   char block[65536];
                   for (size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;) {
                       data.append(block, n);
                   }
                   std::fclose(file);
                   res.set_header("Content-Disposition", "attachment; filename=\"" + path + "\"");
                   res.set_content(data, "image/tiff");
               });
}

}  // namespace

int view(int32_t camera, const ViewOptions& o) {
    const bool network = !o.listen.empty();
    const std::string host = network ? o.listen : "127.0.0.1";
    const std::string token = network ? newToken() : "";
    ClosesCameras closer;
    if (int code = openListed(camera)) {
        return code;
    }
    kqview::LiveCamera live(camera);
    kqview::Control control(live, benchCameraOf(camera));
    if (StatusCode s = live.start()) {
        return fail("cannot start the live run", s);
    }
    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    server.set_payload_max_length(kMaxBody);
    int port = 0;
    server.set_pre_routing_handler([&](const httplib::Request& req, httplib::Response& res) {
        if (admitted(req, token, port)) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        replyJson(
            res, 403,
            {{"ok", false},
             {"error", token.empty() ? "ask through 127.0.0.1 or localhost"
                                     : "a valid token is needed (?token= or X-Kqcam-Token)"}});
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) {
            const char* what = res.status == 404   ? "no such page"
                               : res.status == 413 ? "the request is too large"
                                                   : "bad request";
            replyJson(res, res.status, {{"ok", false}, {"error", what}});
        }
    });
    addRoutes(server, live, control);
    if (o.port == 0) {
        port = server.bind_to_any_port(host);
    } else {
        port = server.bind_to_port(host, o.port) ? o.port : -1;
    }
    if (port <= 0) {
        std::fprintf(stderr, "kqcam: cannot listen on %s port %u\n", host.c_str(), o.port);
        live.stop();
        return kExitUsage;
    }
    const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    std::printf("kqcam: live view at http://%s:%d/%s\n", shown.c_str(), port,
                token.empty() ? "" : ("?token=" + token).c_str());
    std::printf("kqcam: Ctrl-C stops the camera and the server\n");
    std::fflush(stdout);

    interrupted = 0;
    std::signal(SIGINT, onInterrupt);
    std::atomic<bool> serving{true};
    std::thread watcher([&] {
        while (serving && interrupted == 0) {
            std::this_thread::sleep_for(kSignalPoll);
        }
        // A stop before the server runs would be lost, and it would then run for ever.
        while (serving && !server.is_running()) {
            std::this_thread::sleep_for(kSignalPoll);
        }
        control.finish();  // aborts a job under way
        live.stop();       // wakes the requests that wait for frames
        server.stop();
    });
    const bool listened = server.listen_after_bind();
    serving = false;
    watcher.join();
    control.finish();
    live.stop();
    std::signal(SIGINT, SIG_DFL);
    if (interrupted != 0) {
        std::fprintf(stderr, "kqcam: stopped\n");
        return kExitInterrupted;
    }
    return listened ? kExitOk : kExitCameraError;
}

}  // namespace kqcam
