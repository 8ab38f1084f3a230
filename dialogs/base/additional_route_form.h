#pragma once
// What the additional-routes window decides, apart from the window: its
// rows, the checks of Add on the user-interface thread, the lookup and add
// that run on the worker, and Delete. Every change is saved at once; a save
// that fails is reported and undone in memory, so the list shown is the
// list stored.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct AdditionalRouteRow {
    std::wstring address;
    std::wstring action;  // "Direct", "Proxify" or "N/A", translated
};

// Resolves a host name to dotted IPv4 text; 1 on success.
using RouteAddressResolver = std::function<int(std::string_view host, std::string* address)>;

class CDialogAdditionalRouteMgrCore {
public:
    CDialogAdditionalRouteMgrCore();

    static std::vector<AdditionalRouteRow> Rows();
    static std::wstring ActionText(int action);

    // Add's checks. 1 when the entry is pending for the worker; else the
    // box was shown (0).
    int BeginAdd(const std::wstring& text, int actionRow);
    // The worker's step for the pending entry: resolves a name, adds and
    // saves. Null when the route was added, else the translated message.
    const char* ResolveAndAdd();
    // Removes the route and saves; on a failed save the route comes back and
    // the box is shown (0).
    int Delete(const std::wstring& address);

    const std::wstring& GetPendingText() const { return pendingText_; }
    // For tests: the lookup to use instead of the program's.
    void SetResolver(RouteAddressResolver resolver) { resolver_ = std::move(resolver); }

private:
    std::wstring pendingText_;
    int pendingAction_ = 0;
    RouteAddressResolver resolver_;
};
