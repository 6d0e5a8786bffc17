// The desktop window of devhost --gui: GLFW for the window and the user's input, Dear ImGui's
// GLFW and OpenGL 3 backends (built into Debian's libimgui) for feeding and drawing frames.
// Everything here runs on the host's UI thread, the thread that created the window.
//
// devhost links its own copy of Dear ImGui; Init makes the host's context current in it.
#include <set>
#include <stdexcept>
#include <vector>

#include <GLFW/glfw3.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>
#include <fmt/format.h>
#include <imgui.h>

#include "ConsolePane.h"
#include "FramePng.h"
#include "GuiBackend.h"
#include "ReplaysPane.h"
#include "RequestsPane.h"

namespace {

constexpr int kWindowWidth = 1280;
constexpr int kWindowHeight = 720;
constexpr const char* kWindowTitle = "devhost";
constexpr const char* kGlslVersion = "#version 130"; // OpenGL 3.0
constexpr std::chrono::milliseconds kFrameInterval{16};
const ImVec4 kBackground(0.16f, 0.18f, 0.21f, 1.0f);

// GLFW reports errors through a callback; the last one explains a failed call.
std::string lastGlfwError = "no details";

void RecordGlfwError(int code, const char* description)
{
    lastGlfwError = fmt::format("{} (GLFW error 0x{:x})", description, code);
}

class GlfwBackend : public devhost::UiBackend {
public:
    GlfwBackend(GuiSession& session, std::filesystem::path uiSettings)
        : session(session), console(session), replays(session), requests(session.Requests()),
          uiSettings(std::move(uiSettings))
    {
    }
    ~GlfwBackend() override;
    GlfwBackend(const GlfwBackend&) = delete;
    GlfwBackend& operator=(const GlfwBackend&) = delete;

    void Init(ImGuiContext* context) override;
    void PrepareFrame(ImGuiIO& io) override;
    void DrawHostWindows() override;
    void PresentFrame(ImDrawData* drawData) override;
    std::optional<std::string> SaveFrame(ImDrawData* drawData, const std::filesystem::path& file,
                                         const std::optional<devhost::UiRegion>& region) override;
    std::chrono::milliseconds FrameInterval() const override { return kFrameInterval; }

private:
    struct KeyRelease {
        int key;
        int scancode;
        int mods;
    };

    static void OnKey(GLFWwindow* window, int key, int scancode, int action, int mods);
    void ReleaseDeferredKeys();
    void OpenWindow();
    void CloseWindow();
    void Render(ImDrawData* drawData);
    PixelRect ToPixels(const devhost::UiRegion& region) const;

    GuiSession& session;
    ConsolePane console;
    ReplaysPane replays;
    RequestsPane requests;
    const std::filesystem::path uiSettings;
    GLFWwindow* window = nullptr;
    bool glfwStarted = false;
    bool platformStarted = false;
    bool rendererStarted = false;
    std::set<int> keysPressedThisFrame;
    std::vector<KeyRelease> deferredReleases;
};

GlfwBackend::~GlfwBackend()
{
    if (window && !uiSettings.empty())
        ImGui::SaveIniSettingsToDisk(uiSettings.string().c_str());
    CloseWindow();
}

void GlfwBackend::Init(ImGuiContext* context)
{
    ImGui::SetCurrentContext(context);
    try {
        OpenWindow();
    } catch (...) {
        // A backend that failed here is destroyed off the UI thread: let go of GLFW now.
        CloseWindow();
        throw;
    }
    // Where the user left the windows last time, as the real host remembers it.
    std::error_code ignored;
    if (!uiSettings.empty() && std::filesystem::exists(uiSettings, ignored))
        ImGui::LoadIniSettingsFromDisk(uiSettings.string().c_str());
}

void GlfwBackend::OpenWindow()
{
    glfwSetErrorCallback(&RecordGlfwError);
    glfwStarted = glfwInit() == GLFW_TRUE;
    if (!glfwStarted)
        throw std::runtime_error(fmt::format("--gui: cannot start GLFW: {}", lastGlfwError));
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 0);
    window = glfwCreateWindow(kWindowWidth, kWindowHeight, kWindowTitle, nullptr, nullptr);
    if (!window)
        throw std::runtime_error(fmt::format("--gui: cannot open a window: {}", lastGlfwError));
    glfwMakeContextCurrent(window);
    // The host paces its frames itself, and clicking by script draws many in a row.
    glfwSwapInterval(0);
    platformStarted = ImGui_ImplGlfw_InitForOpenGL(window, true);
    rendererStarted = platformStarted && ImGui_ImplOpenGL3_Init(kGlslVersion);
    if (!rendererStarted)
        throw std::runtime_error("--gui: Dear ImGui's GLFW or OpenGL 3 backend did not start");
    // Keys go through OnKey, which hands them on to Dear ImGui's own callback.
    glfwSetWindowUserPointer(window, this);
    glfwSetKeyCallback(window, &GlfwBackend::OnKey);
}

// Dear ImGui 1.86 reads the keyboard as a state once a frame: a key pressed and released between
// two frames (a quick tap while a frame is slow) would never be seen down. A release that comes
// in the same frame as its press waits for the next frame.
void GlfwBackend::OnKey(GLFWwindow* window, int key, int scancode, int action, int mods)
{
    auto* self = static_cast<GlfwBackend*>(glfwGetWindowUserPointer(window));
    if (action == GLFW_RELEASE && self->keysPressedThisFrame.count(key) != 0) {
        self->deferredReleases.push_back({key, scancode, mods});
        return;
    }
    if (action == GLFW_PRESS)
        self->keysPressedThisFrame.insert(key);
    ImGui_ImplGlfw_KeyCallback(window, key, scancode, action, mods);
}

// Before the events of a new frame: the keys held back were seen down in the last one.
void GlfwBackend::ReleaseDeferredKeys()
{
    for (const KeyRelease& release : deferredReleases)
        ImGui_ImplGlfw_KeyCallback(window, release.key, release.scancode, GLFW_RELEASE, release.mods);
    deferredReleases.clear();
    keysPressedThisFrame.clear();
}

// Whatever OpenWindow got as far as starting, in reverse.
void GlfwBackend::CloseWindow()
{
    if (rendererStarted)
        ImGui_ImplOpenGL3_Shutdown();
    if (platformStarted)
        ImGui_ImplGlfw_Shutdown();
    if (window)
        glfwDestroyWindow(window);
    if (glfwStarted)
        glfwTerminate();
    rendererStarted = platformStarted = glfwStarted = false;
    window = nullptr;
}

void GlfwBackend::DrawHostWindows()
{
    replays.Draw();
    requests.Draw();
    console.Draw();
}

void GlfwBackend::PrepareFrame(ImGuiIO& io)
{
    ReleaseDeferredKeys();
    glfwPollEvents();
    if (glfwWindowShouldClose(window) && glfwGetWindowAttrib(window, GLFW_VISIBLE)) {
        glfwHideWindow(window); // gone at once; devhost ends when its script allows
        session.MarkClosed();
    }
    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplGlfw_NewFrame();
    // Frames drawn back to back by the host's clicking can fall within one clock tick, and
    // Dear ImGui needs time to move forward.
    if (io.DeltaTime <= 0.0f)
        io.DeltaTime = 1.0f / 10000.0f;
}

void GlfwBackend::Render(ImDrawData* drawData)
{
    int width = 0;
    int height = 0;
    glfwGetFramebufferSize(window, &width, &height);
    glViewport(0, 0, width, height);
    glClearColor(kBackground.x, kBackground.y, kBackground.z, kBackground.w);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(drawData);
}

void GlfwBackend::PresentFrame(ImDrawData* drawData)
{
    Render(drawData);
    glfwSwapBuffers(window);
}

std::optional<std::string> GlfwBackend::SaveFrame(ImDrawData* drawData, const std::filesystem::path& file,
                                                  const std::optional<devhost::UiRegion>& region)
{
    Render(drawData);
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    PixelRect rect = ToPixels(region.value_or(devhost::UiRegion{0.0f, 0.0f, display.x, display.y}));
    int framebufferHeight = 0;
    glfwGetFramebufferSize(window, nullptr, &framebufferHeight);
    return SaveBackBufferPng(file, rect, framebufferHeight);
}

// Display coordinates to framebuffer pixels (they differ on a scaled display).
PixelRect GlfwBackend::ToPixels(const devhost::UiRegion& region) const
{
    const ImVec2 scale = ImGui::GetIO().DisplayFramebufferScale;
    auto pixels = [](float value, float factor) { return static_cast<int>(value * factor + 0.5f); };
    return {pixels(region.x, scale.x), pixels(region.y, scale.y), pixels(region.width, scale.x),
            pixels(region.height, scale.y)};
}

} // namespace

devhost::UiBackendFactory MakeGuiBackendFactory(GuiSession& session, const std::filesystem::path& uiSettings,
                                                std::string&)
{
    return [&session, uiSettings] { return std::make_unique<GlfwBackend>(session, uiSettings); };
}
