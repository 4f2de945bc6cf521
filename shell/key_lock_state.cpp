#include "key_lock_state.h"

#include <QGuiApplication>

#ifdef FACETTA_HAVE_X11
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#endif

std::optional<KeyLockState> QueryKeyLockState() {
#ifdef FACETTA_HAVE_X11
    auto* pX11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* pDisplay = pX11 ? pX11->display() : nullptr;
    if (!pDisplay) return std::nullopt;
    // Indicators are looked up by name: their bit positions differ between keymaps.
    auto isOn = [pDisplay](const char* pszName, bool& bKnown) {
        Atom atom = XInternAtom(pDisplay, pszName, True);
        Bool bOn = False;
        if (atom == None || !XkbGetNamedIndicator(pDisplay, atom, nullptr, &bOn, nullptr, nullptr))
            bKnown = false;
        return bOn == True;
    };
    bool bKnown = true;
    KeyLockState state;
    state.bCaps = isOn("Caps Lock", bKnown);
    state.bNum = isOn("Num Lock", bKnown);
    state.bScroll = isOn("Scroll Lock", bKnown);
    if (!bKnown) return std::nullopt;
    return state;
#else
    return std::nullopt;
#endif
}
