// The floor of the start-up figure: the tool's process shape around an empty QDialog, leaving at
// the same point (first timer event after exec(), one paint).
#include <QApplication>
#include <QDialog>
#include <QTimerEvent>

#include <memory>

namespace {

class EmptyDialog : public QDialog
{
public:
    EmptyDialog()
    {
        setModal(true);
        startTimer(1);
    }

protected:
    void timerEvent(QTimerEvent *event) override
    {
        killTimer(event->timerId());
        repaint();
        reject();
    }
};

} // namespace

int main(int argc, char *argv[])
{
    auto app = std::make_unique<QApplication>(argc, argv);
    auto dialog = std::make_unique<EmptyDialog>();
    dialog->exec();
    dialog.reset();
    app.reset();
    return 0;
}
