#include "camera_choice.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "kqfw/kqfw.h"
#include "kqfw/kqfw_ext.h"

namespace kqtools {

namespace {

// Opens listing entry k into a free slot (the highest, out of the way of slots the process
// numbers from 0): the slot, or -1.
int32_t openForAMoment(int32_t k) {
    for (int32_t slot = 9; slot >= 0; --slot) {
        const StatusCode status = kqfwInitListed(slot, k);
        if (status != KQFW_STATUS_BUSY) {
            return status == KQFW_STATUS_OK ? slot : -1;
        }
    }
    return -1;
}

}  // namespace

Choice chooseCamera(const std::string& text, int32_t* position, std::string* why) {
    KqfwListedCamera listed[10];
    int32_t count = 0;
    kqfwListCameras(listed, 10, &count);
    count = std::min(count, 10);
    if (count == 0) {
        *why = "no camera present";
        return Choice::kAbsent;
    }
    const bool place = !text.empty() && text.size() <= 2 &&
                       text.find_first_not_of("0123456789") == std::string::npos;
    if (place) {
        *position = std::stoi(text);
        if (*position < count) {
            return Choice::kFound;
        }
        *why = "no camera " + text + " (" + std::to_string(count) + " present)";
        return Choice::kAbsent;
    }
    std::string model = text;
    std::transform(model.begin(), model.end(), model.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
    if (model == "KQC" || model == "KQM") {
        const uint32_t mono = model == "KQM" ? 1 : 0;
        for (int32_t k = 0; k < count; ++k) {
            if (listed[k].isMono == mono) {
                *position = k;
                return Choice::kFound;
            }
        }
        *why = std::string("no ") + (mono ? "KQM (mono)" : "KQC (colour)") + " camera present";
        return Choice::kAbsent;
    }
    char* end = nullptr;
    const unsigned long serial =
        text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')
            ? std::strtoul(text.c_str() + 2, &end, 16)
            : 0;
    if (end == nullptr || *end != '\0') {
        *why =
            "a camera is named by its place in the list (0 to 9), its model (KQC or KQM) or "
            "its unique id (0x014a), not '" +
            text + "'";
        return Choice::kMalformed;
    }
    // The unique id is the camera's own: each listed camera is opened for a moment to ask it.
    for (int32_t k = 0; k < count; ++k) {
        const bool borrowed = listed[k].slot < 0;
        const int32_t slot = borrowed ? openForAMoment(k) : listed[k].slot;
        uint32_t info[4] = {};
        const bool match =
            slot >= 0 && IxenmInfo(slot, info) == KQFW_STATUS_OK && info[1] == serial;
        if (borrowed && slot >= 0) {
            IxenmClose(slot);
        }
        if (match) {
            *position = k;
            return Choice::kFound;
        }
    }
    char id[16];
    std::snprintf(id, sizeof id, "0x%04lx", serial);
    *why = std::string("no camera with unique id ") + id + " present";
    return Choice::kAbsent;
}

}  // namespace kqtools
