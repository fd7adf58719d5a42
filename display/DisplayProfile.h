#pragma once
// The colour profile of the screen, as colour-managed X11 desktops publish it: the bytes of
// the root window's _ICC_PROFILE property. Other platforms (Wayland, offscreen) have none.
#include <cstdint>
#include <vector>

// The profile of the first screen, or empty. Needs a QGuiApplication.
std::vector<uint8_t> ReadDisplayProfile();
