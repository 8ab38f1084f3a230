#pragma once
// The control gallery: a program that opens windows showing the toolkit's
// controls in their steady states, so that tests can drive them with the
// pointer and check their pixels on a virtual display.
//
// Each scene is a function that builds windows and registers the controls
// the tests look at, by name. Scenes register themselves with
// GALLERY_SCENE(name) in their own source file; the gallery builds every
// scene at start, or only those named on the command line (--scene NAME).
//
// Protocol on standard input and output (one line each):
//   start:   "RECT <name> <x> <y> <w> <h>" for every registered control
//            (screen coordinates), then "READY"
//   "rects"  the RECT lines again, then "END"
//   "paints" "PAINTS <name> <count>" (paint events so far), then "END"
//   "state <name>"  "STATE <name> <key=value>..." as the scene reports it
//   "act <name>"    runs the scene's action of that name after the reply
//                   (an action may open a menu or a box and wait in it)
//   "quit"   ends the program

#include <wx/window.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace gallery {

class Registry {
public:
    // A control or window the tests look at. `state` reports its state
    // words ("hover=1 pushed=0"), when the scene has something to say.
    void Add(const std::string& name, wxWindow* window, std::function<std::string()> state = nullptr);
    // State words only, no rectangle.
    void AddState(const std::string& name, std::function<std::string()> state);
    // A rectangle that belongs to no single window (a system button, say),
    // computed when asked.
    void AddRect(const std::string& name, std::function<wxRect()> rect);
    // Something the test asks the scene to do.
    void AddAction(const std::string& name, std::function<void()> action);

    void PrintRects() const;
    void PrintPaints(const std::map<const wxObject*, int>& paints) const;
    void PrintState(const std::string& name) const;
    // False when there is no such action.
    bool Act(const std::string& name) const;

private:
    struct Entry {
        std::string name;
        wxWindow* window = nullptr;
        std::function<wxRect()> rect;
        std::function<std::string()> state;
    };
    std::vector<Entry> entries_;
    std::map<std::string, std::function<void()>> actions_;
};

using SceneFn = void (*)(Registry&);
bool RegisterScene(const char* name, SceneFn build);
const std::map<std::string, SceneFn>& Scenes();

}  // namespace gallery

#define GALLERY_SCENE(name)                                                                                  \
    static void GalleryScene_##name(gallery::Registry& registry);                                            \
    static const bool gallery_scene_registered_##name = gallery::RegisterScene(#name, &GalleryScene_##name); \
    static void GalleryScene_##name(gallery::Registry& registry)
