// For UI backends that draw no pixels. Inline, so that it runs in the caller's own copy of
// Dear ImGui: a backend built with its own copy must make the host's context current there.
#pragma once

#include <imgui.h>

namespace devhost {

// Makes context current and builds its font atlas in memory: Dear ImGui lays text out only
// once the atlas exists, even when nothing is ever drawn.
inline void AdoptUiContext(ImGuiContext* context)
{
    ImGui::SetCurrentContext(context);
    unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    ImGui::GetIO().Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
}

} // namespace devhost
