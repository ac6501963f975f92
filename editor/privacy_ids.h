// Command ids of the privacy commands, beside those of resource_ids.h.
#pragma once

namespace tavro {

enum PrivacyCommandId : int {
    ID_HIDE = 32901,
    ID_SHOW = 32902,
    ID_SETTINGS_PRIVACY = 32903,
};

} // namespace tavro
