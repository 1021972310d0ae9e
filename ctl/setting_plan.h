// How `kelvra-ctl set` turns NAME=VALUE into the requests the panel would queue: a parameter
// that a panel control sets goes through that control's request type, with the value the type
// takes (so the camera changes now and the entry is marked for the save as the panel's is); a
// parameter no request type sets is only marked, and written by the save. The rules are the
// engine's table of settings (engine/settings.h).
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "engine/settings.h"

using Assignment = ParameterAssignment;

struct PlannedRequest {
    CameraRequest request;
    QString what;              // "AGC mode (AGC Mode at Power Up = 2)"
    std::vector<int> indices;  // the parameters it sets
};

struct SettingPlan {
    std::vector<PlannedRequest> requests;  // in the order the parameters were given
    std::vector<Assignment> marks;         // written by the save alone
};

// Plans `assignments`. `current` holds the camera's values 0..254, or is null before the camera
// is known: then everything is checked that can be without it (the values each request type
// takes, the pairs set together, --save for the parameters that only the save writes) and the
// plan is not filled. A parameter of a pair given alone keeps the other's current value. "" when
// fine, otherwise why the assignments are refused; nothing is to be sent then.
QString PlanSettings(const std::vector<Assignment>& assignments, bool save, const uint16_t* current,
                     SettingPlan* plan);

// The parameters whose camera values planning `assignments` uses, each once: every one given (the
// save's marks compare with it) and the other parameter of each request type that sets two.
std::vector<int> SettingReads(const std::vector<Assignment>& assignments);

// A REQ_MARK_PARAMETERS request for `marks` (at most kMaxMarkedParameters entries).
CameraRequest MarkRequest(const std::vector<Assignment>& marks);
