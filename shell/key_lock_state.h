#pragma once
// Caps, Num and Scroll Lock as the windowing system reports them.
#include <optional>

struct KeyLockState {
    bool bCaps = false;
    bool bNum = false;
    bool bScroll = false;
};

// The current lock states, or nothing where the platform cannot tell.
std::optional<KeyLockState> QueryKeyLockState();
