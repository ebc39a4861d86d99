// The tool's start-up as a process: the same steps as its entry point, leaving as soon as the values
// are loaded and painted. The load itself is the dialog's own; only the exit is added.
#include "trox_inst_envDialog.h"

#include <QApplication>
#include <QTimerEvent>

#include <memory>

namespace {

class StartProbe : public trox_inst_envDialog
{
public:
    StartProbe()
        : trox_inst_envDialog(nullptr, nullptr, true)
    {}

protected:
    void timerEvent(QTimerEvent *event) override
    {
        trox_inst_envDialog::timerEvent(event);
        // Painted with the loaded values before leaving, as an operator would first see them.
        repaint();
        reject();
    }
};

} // namespace

int main(int argc, char *argv[])
{
    auto app = std::make_unique<QApplication>(argc, argv);
    auto dialog = std::make_unique<StartProbe>();
    dialog->exec();
    dialog.reset();
    app.reset();
    return 0;
}
