// Floors of the start-up figure: the tool's process shape (exec(), first timer event, leave once that
// frame has reached the window) around an empty QDialog, or with FORM_ALONE around the main form
// with its texts and nothing behind it.
#include "FirstFrame.h"

#include <QApplication>
#include <QTimerEvent>

#include <memory>

#ifdef FORM_ALONE
#include "trox_inst_envDialogBase.h"
using Shown = trox_inst_envDialogBase;
#else
#include <QDialog>
using Shown = QDialog;
#endif

namespace {

class FloorDialog : public Shown
{
public:
    FloorDialog()
    {
        setModal(true);
        startTimer(1);
    }

protected:
    void timerEvent(QTimerEvent *event) override
    {
        killTimer(event->timerId());
        m_frame->contentsReady();
    }

private:
    FirstFrame *m_frame = new FirstFrame(this);
};

} // namespace

int main(int argc, char *argv[])
{
    auto app = std::make_unique<QApplication>(argc, argv);
    auto dialog = std::make_unique<FloorDialog>();
    dialog->exec();
    dialog.reset();
    app.reset();
    return 0;
}
