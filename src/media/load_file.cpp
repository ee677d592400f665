#include "media/load_file.h"

#include "base/convert.h"
#include "base/errors.h"
#include "media/player_controls.h"
#include "seams/dialogs.h"
#include "seams/locale.h"
#include "station/station.h"

#include <filesystem>
#include <system_error>

namespace tarnwick {

namespace {

bool isExistingFile(const Locale& locale, const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(locale.filePath(path), ec);
}

struct LoadingFlag {
    bool& flag;
    explicit LoadingFlag(bool& f) : flag(f) { flag = true; }
    ~LoadingFlag() { flag = false; }
};

}  // namespace

bool LoadFile(Station& s, MediaState& m, ReLoad reload) {
    // Another load waits in its dialog or message. A call that this one would
    // answer from the graph in place still plays it: a dialog left open on an
    // unattended station must not hold back every identification. A call
    // that needs a load of its own is refused. While the waiting load shows
    // its render error there is no graph (it was released before the box).
    if (m.loadInProgress) return reload == ReLoad::No && !m.LoadedFile.empty() && s.hasGraph();
    LoadingFlag loading(m.loadInProgress);
    Form& f = s.form;
    Dialogs& dialogs = s.platform.dialogs;

    try {
        f.CommonDialog1.fileName = f.Text4.text();
        if (reload == ReLoad::No && !m.LoadedFile.empty()) return s.hasGraph();

        if (f.Text4.text().empty()) {
            f.CommonDialog1.filter = kMediaFilter;
            f.CommonDialog1.fileName = dialogs.openFile(f.CommonDialog1.fileName, f.CommonDialog1.filter);
        }
        const std::string path = f.CommonDialog1.fileName;
        if (!isExistingFile(s.platform.locale, path)) {
            s.log.note(path.empty() ? "file not loaded: no file chosen"
                                    : "file not loaded: \"" + path + "\" is not a file");
            dialogs.messageBox("Please select a file", "Error", mb::kOk | mb::kIconInformation);
            return s.hasGraph();
        }

        f.Text4.setText(path);
        m.LoadedFile = path;
        CleanUp(s);
        MediaGraph& graph = s.holdGraph(s.graphs.create());
        graph.RenderFile(m.LoadedFile);
        const double length = graph.Duration();
        f.H1.setMax(toInt16(length));
        f.Text3.setText(s.numberText(length));
        // Before anything runs it, so that nothing goes out at the
        // component's own level.
        applyBarsToGraph(s);
        return true;
    } catch (const Failure& e) {
        s.log.note("file load failed: " + m.LoadedFile + ": " + e.description());
        // Released before the box opens: nothing that runs while it waits
        // may start on a graph that did not load.
        CleanUp(s);
        dialogs.messageBox("Render error no rendering device found", "Error", mb::kOk | mb::kIconExclamation);
        return false;
    }
}

void CleanUp(Station& s) {
    if (s.releaseGraph()) s.graphReleased();
}

}  // namespace tarnwick
