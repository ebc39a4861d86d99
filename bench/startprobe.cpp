// The tool's start-up as a process: the same steps as its entry point, leaving once a frame with the
// loaded values has reached the window. The load itself is the dialog's own; only the exit is added.
#include "FirstFrame.h"
#include "trox_inst_envDialog.h"

#include <QApplication>

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
        m_frame->contentsReady();
    }

private:
    FirstFrame *m_frame = new FirstFrame(this);
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
