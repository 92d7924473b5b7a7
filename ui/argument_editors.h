#pragma once

// The inspector beside the display-list table: the selected command's
// macro, one editor per argument that fits the argument's kind, and the raw
// words of each of its entries.
//
//   named constants      a combo box of the slot's names, with a short meaning
//   flag sets            a check box per flag (geometry mode, clamp/mirror,
//                        matrix flags; render-mode flags and blender inputs)
//   integers             a spin box bounded by the field's range
//   addresses and data   a hex line edit
//   r, g, b, a groups    the four spin boxes and a colour swatch
//   combiner             a combo box per input, and the presets of each cycle
//
// The inspector only proposes: every change is sent as the whole new
// argument list (or one entry's new words) and comes back through
// showCommand() once the window has encoded it, or has refused it.

#include "gbi/command.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

class QColor;
class QFormLayout;
class QGridLayout;
class QGroupBox;
class QLabel;
class QVBoxLayout;

namespace dlscope {

class ArgumentInspector : public QWidget {
    Q_OBJECT
public:
    explicit ArgumentInspector(QWidget *parent = nullptr);

    // Shows a command and its entries' words; editors are kept (and only
    // their values set) while the command keeps its macro and length.
    void showCommand(const gbi::Command &command, const std::vector<gbi::Words> &words, gbi::Names names,
                     const QString &heading, const QString &status);
    void showNothing(const QString &why);

    const gbi::Command &command() const { return command_; }

signals:
    // mergeKey names the argument edited, so that a run of edits of one
    // argument can be undone as one.
    void argumentsEdited(const std::vector<std::int64_t> &args, int mergeKey);
    void wordsEdited(int entry, gbi::Words words);

private:
    void rebuild();
    void refreshValues();
    void clearEditors();
    std::vector<std::int64_t> currentArgs() const;
    void propose(std::vector<std::int64_t> args, int mergeKey);

    void addGeneric(int index);
    void addColourSwatch(int red);
    void chooseColour(int red, const QColor &colour);
    void addRenderMode();
    void addCombinePresets();
    void addWords();

    gbi::Command command_;
    std::vector<gbi::Words> words_;
    gbi::Names names_ = gbi::Names::Libultra;
    const gbi::MacroSpec *shownMacro_ = nullptr;
    gbi::Ucode shownUcode_ = gbi::Ucode::F3DEX2;
    gbi::Names shownNames_ = gbi::Names::Libultra;
    std::size_t shownLength_ = 0;

    QLabel *heading_;
    QLabel *status_;
    QGroupBox *argumentsBox_;
    QFormLayout *arguments_;
    QGroupBox *wordsBox_;
    QGridLayout *wordsGrid_;
    // Each sets its editor from command_ and words_, with signals blocked.
    std::vector<std::function<void()>> refreshers_;
};

} // namespace dlscope
