#include "trox_inst_envDialogBase.h"

#include "EnterPresses.h"
#include "FormLayout.h"
#include "NoteLabel.h"
#include "pathrules.h"
#include "ScreenFit.h"
#include "ValueLabel.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>
#include <QTextDocumentFragment>
#include <QVBoxLayout>

#include <iterator>

namespace {

// A group box whose own column layout holds the member layout, aligned to the top.
template <typename Layout> Layout *groupLayout(QGroupBox *box)
{
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(11, 11, 11, 11);
    column->setSpacing(6);
    auto *inner = new Layout;
    column->addLayout(inner);
    column->setAlignment(inner, Qt::AlignTop);
    return inner;
}

QLabel *captionLabel(QWidget *parent, const char *name)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setSizePolicy(QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred));
    label->setAlignment(Qt::AlignVCenter | Qt::AlignRight);
    return label;
}

// Values are shown exactly as they are: a path that happens to look like markup stays text.
QLabel *valueLabel(QWidget *parent, const char *name)
{
    auto *label = new ValueLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// The notes are laid out at several widths while the dialog works out its size, and each layout
// shapes the whole text anew. Latin text reads the same without the shaper's kerning and
// ligatures, and skipping it takes a twentieth off the work of opening the form. Scripts that need
// shaping are still shaped.
NoteLabel *noteLabel(QWidget *parent, const char *name)
{
    auto *label = new NoteLabel(parent);
    label->setObjectName(QLatin1String(name));
    QFont unshaped;
    unshaped.setStyleStrategy(QFont::PreferNoShaping);
    label->setFont(unshaped);
    // Rich text wraps in the dialog's width rather than widening it.
    label->setWordWrap(true);
    return label;
}

QPushButton *setButton(QWidget *parent, const char *name)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setSizePolicy(QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed));
    button->setMaximumSize(QSize(45, 32767));
    return button;
}

QGroupBox *groupBox(QWidget *parent, const char *name)
{
    auto *box = new QGroupBox(parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

QSpacerItem *horizontalSpacer(int width)
{
    return new QSpacerItem(width, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
}

// What a screen reader reads of a rich text: the words, without the markup.
QString plain(const QString &richText)
{
    return QTextDocumentFragment::fromHtml(richText).toPlainText().trimmed();
}

} // namespace

trox_inst_envDialogBase::trox_inst_envDialogBase(QWidget *parent, const char *name, bool modal,
                                                 Qt::WindowFlags fl)
    : QDialog(parent, fl)
{
    setObjectName(QLatin1String(name ? name : "trox_inst_envDialogBase"));
    setModal(modal);
    trox_inst_envDialogBaseLayout = FormLayout::column(this, "trox_inst_envDialogBaseLayout");

    groupBox4 = groupBox(this, "groupBox4");
    groupBox4Layout = groupLayout<QGridLayout>(groupBox4);
    system = valueLabel(groupBox4, "system");
    groupBox4Layout->addWidget(system, 1, 1);
    textLabel1_2 = captionLabel(groupBox4, "textLabel1_2");
    groupBox4Layout->addWidget(textLabel1_2, 1, 0);
    setRoot = setButton(groupBox4, "setRoot");
    setRoot->setMinimumSize(QSize(0, 0));
    groupBox4Layout->addWidget(setRoot, 0, 2);
    setSystem = setButton(groupBox4, "setSystem");
    groupBox4Layout->addWidget(setSystem, 1, 2);
    root = valueLabel(groupBox4, "root");
    groupBox4Layout->addWidget(root, 0, 1);
    textLabel1 = captionLabel(groupBox4, "textLabel1");
    groupBox4Layout->addWidget(textLabel1, 0, 0);
    warning = new QLabel(groupBox4);
    warning->setObjectName(QStringLiteral("warning"));
    QPalette warningPalette = warning->palette();
    warningPalette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    warning->setPalette(warningPalette);
    groupBox4Layout->addWidget(warning, 2, 1);
    trox_inst_envDialogBaseLayout->addWidget(groupBox4);

    textLabel1_4 = noteLabel(this, "textLabel1_4");
    // A white panel under a light desktop's text; both colours come from the one palette, so that a
    // dark desktop gives a dark panel under light text rather than its light text on white.
    textLabel1_4->setBackgroundRole(QPalette::Base);
    textLabel1_4->setForegroundRole(QPalette::Text);
    textLabel1_4->setAutoFillBackground(true);
    textLabel1_4->setFrameShape(QFrame::Panel);
    textLabel1_4->setFrameShadow(QFrame::Sunken);
    trox_inst_envDialogBaseLayout->addWidget(textLabel1_4);

    groupBox5 = groupBox(this, "groupBox5");
    groupBox5Layout = groupLayout<QGridLayout>(groupBox5);
    groupBox5Layout->addItem(horizontalSpacer(150), 1, 3);
    standalone = new QCheckBox(groupBox5);
    standalone->setObjectName(QStringLiteral("standalone"));
    groupBox5Layout->addWidget(standalone, 1, 2);
    groupBox5Layout->addItem(horizontalSpacer(50), 1, 0, 1, 2);
    setServer = setButton(groupBox5, "setServer");
    groupBox5Layout->addWidget(setServer, 0, 4);
    textLabel1_2_3 = captionLabel(groupBox5, "textLabel1_2_3");
    groupBox5Layout->addWidget(textLabel1_2_3, 0, 0);
    server = valueLabel(groupBox5, "server");
    groupBox5Layout->addWidget(server, 0, 1, 1, 3);
    textLabel1_2_3_2 = captionLabel(groupBox5, "textLabel1_2_3_2");
    groupBox5Layout->addWidget(textLabel1_2_3_2, 2, 0);
    reserveserver = valueLabel(groupBox5, "reserveserver");
    groupBox5Layout->addWidget(reserveserver, 2, 1, 1, 3);
    setReserveServer = setButton(groupBox5, "setReserveServer");
    groupBox5Layout->addWidget(setReserveServer, 2, 4);
    trox_inst_envDialogBaseLayout->addWidget(groupBox5);

    groupBox6 = groupBox(this, "groupBox6");
    groupBox6Layout = groupLayout<QHBoxLayout>(groupBox6);
    textLabel1_2_2 = captionLabel(groupBox6, "textLabel1_2_2");
    groupBox6Layout->addWidget(textLabel1_2_2);
    workstation = valueLabel(groupBox6, "workstation");
    groupBox6Layout->addWidget(workstation);
    setWorkstation = setButton(groupBox6, "setWorkstation");
    groupBox6Layout->addWidget(setWorkstation);
    trox_inst_envDialogBaseLayout->addWidget(groupBox6);

    groupBox4_2 = groupBox(this, "groupBox4_2");
    groupBox4_2Layout = groupLayout<QVBoxLayout>(groupBox4_2);
    layout4 = FormLayout::row("layout4");
    developer = FormLayout::add<QCheckBox>(groupBox4_2, layout4, "developer");
    layout4->addItem(horizontalSpacer(337));
    groupBox4_2Layout->addLayout(layout4);
    textLabel1_3 = noteLabel(groupBox4_2, "textLabel1_3");
    groupBox4_2Layout->addWidget(textLabel1_3);
    trox_inst_envDialogBaseLayout->addWidget(groupBox4_2);

    trox_inst_envDialogBaseLayout->addItem(
        new QSpacerItem(20, 19, QSizePolicy::Minimum, QSizePolicy::Expanding));

    layout1 = FormLayout::row("layout1");
    layout1->addItem(horizontalSpacer(100));
    ok = FormLayout::add<QPushButton>(this, layout1, "ok");
    cancel = FormLayout::add<QPushButton>(this, layout1, "cancel");
    trox_inst_envDialogBaseLayout->addLayout(layout1);

    // Under Qt 6 every push button of a dialog is auto-default unless told otherwise, and the first of
    // them would become the default button, which would make Enter on a check box open an editor.
    // Enter here does only what the focused widget does: it presses a focused button, nothing else.
    auto *enter = new EnterPresses(this);
    for (QPushButton *button : findChildren<QPushButton *>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
        enter->watch(button);
    }
    // Each value is named by its caption, and Tab reaches it before its Set button, in reading order.
    textLabel1->setBuddy(root);
    textLabel1_2->setBuddy(system);
    textLabel1_2_3->setBuddy(server);
    textLabel1_2_3_2->setBuddy(reserveserver);
    textLabel1_2_2->setBuddy(workstation);
    QWidget *const readingOrder[] = {
        root,          setRoot,          system,      setSystem,      server,    setServer, standalone,
        reserveserver, setReserveServer, workstation, setWorkstation, developer, ok,        cancel};
    for (std::size_t i = 1; i < std::size(readingOrder); ++i)
        setTabOrder(readingOrder[i - 1], readingOrder[i]);
    // On a screen too small for the whole form, the rows below the active system scroll.
    new ScreenFit(this, trox_inst_envDialogBaseLayout, 1);

    languageChange();
    // Taller where the wrapped notes need it, so that no line of them is cut off.
    resize(QSize(531, qMax(658, heightForWidth(531))).expandedTo(minimumSizeHint()));

    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

trox_inst_envDialogBase::~trox_inst_envDialogBase() = default;

void trox_inst_envDialogBase::languageChange()
{
    const QString systemHelp = tr("<p>The current sub-directory for the Orvane Control system</p>\n\n"
                                  "<p>This sets the OV_SYSTEM environment variable</p>");
    const QString rootHelp =
        tr("<p>The root path of all Orvane Control systems - <b>you shouldn't need to set "
           "this value very often!</b></p>\n\n<p>This sets the OV_ROOT environment variable</p>");
    const QString standaloneHelp = tr(
        "<p>In \"Stand alone\" mode, this machine will not attempt to update its files from a system "
        "server.</p>\n\n<p>This is useful for working where a system exists on a single machine - such as a "
        "laptop</p>");
    // The example servers are written the way this platform spells them.
    const PathRules rules = PathRules::native();
    const QString serverHelp = rules.examplePaths(tr(
        "<p>This is the Windows path to the server with the master copy for this system.</p>\n\n<p>Typical "
        "values might be:<br>\n\n  \\\\trox-master\\share\\path<br>\n\nor<br>\n\n  "
        "\\\\192.168.10.20\\share</p>"
        "\n\n<p>This value sets the OV_SERVER_ROOT environment variable BUT is overridden by the \"work "
        "stand-alone\" flag</p>\n\n<p>In stand alone mode OV_ROOT is the same value as OV_SERVER_ROOT, but "
        "your "
        "last known server will still be displayed here</p>"));
    const QString reserveTip = rules.examplePaths(tr(
        "<p>This is the Windows path to the reserve server with the master copy for this "
        "system.</p>\n<p>Typical "
        "values might be:<br>\n  \\\\trox-reserve\\share\\path<br>\nor<br>\n  \\\\192.168.10.21\\share</p>\n"
        "<p>This value sets the OV_RESERVE_SERVER_ROOT environment variable</p>\n"));
    const QString reserveWhatsThis = rules.examplePaths(
        tr("<p>This is the Windows path to the reserve server with the master copy for this system.</p>\n\n"
           "<p>Typical values might be:<br>\n\n  \\\\trox-reserve\\share\\path<br>\n\nor<br>\n\n"
           "  \\\\192.168.10.21\\share</p>\n\n<p>This value sets the OV_RESERVE_SERVER_ROOT environment "
           "variable</p>"));
    const QString workstationHelp =
        tr("<p>TROX/Orvane Control workstation number.</p>\n\n<p>This should be a value between 1 and "
           "999.</p>\n\n"
           "<p>Using this tool sets this value in the environment variable OV_WORKSTATION and also the "
           "workstation "
           "setting in the following "
           "files:</p>\n\n<ul>\n\n<li>xsv.ini\n\n<li>taskbase.ini\n\n<li>trox_system.ini "
           "(in the currently selected root and system)\n\n</ul>");
    const QString developerHelp = tr(
        "<p>This sets the environment variable OV_DEVELOPER to true or false</p>\n\n<p>This may enable or "
        "disable "
        "certain features of applications on a developer machine. For example you may want an application to "
        "pause with a minor startup error dialog in developer mode but to ignore this error on a runtime "
        "machine</p>");
    const auto help = [](QWidget *widget, const QString &text) {
        widget->setToolTip(text);
        widget->setWhatsThis(text);
        widget->setAccessibleDescription(plain(text));
    };
    // The five buttons all read "Set"; a screen reader hears what each one sets.
    const auto setButtonNames = [this] {
        setRoot->setAccessibleName(tr("Set root path"));
        setSystem->setAccessibleName(tr("Set system"));
        setServer->setAccessibleName(tr("Set system server"));
        setReserveServer->setAccessibleName(tr("Set reserve server"));
        setWorkstation->setAccessibleName(tr("Set workstation ID"));
    };

    setWindowTitle(tr("Set Active TROX System"));
    groupBox4->setTitle(tr("Active System"));
    system->setText(QString());
    help(system, systemHelp);
    textLabel1_2->setText(tr("System"));
    setRoot->setText(tr("Set"));
    setSystem->setText(tr("Set"));
    root->setText(QString());
    help(root, rootHelp);
    textLabel1->setText(tr("Root"));
    warning->setText(QString());
    textLabel1_4->setText(tr("<p><b>Important! </b>(pain and hassle saving tip follows):</p>\n<p>These "
                             "values are stored as environment "
                             "variables. They are set at the point an application starts and (usually) won't "
                             "change dynamically whilst "
                             "that application is running.</p>\n\n<p>So, if you've got TROX already running "
                             "or an explorer window open "
                             "then these will still have the OLD variables.</p>\n\n<p>So if you double click "
                             "an application to run it "
                             "from a window that was open before you changed these settings \nit'll run apps "
                             "with the <i>old</i> env. "
                             "settings not the ones you thought you'd just changed.</p>\n<p>So....close down "
                             "your explorer (file view) "
                             "windows, and TROX when you change these settings</p>"));
    groupBox5->setTitle(tr("System Server"));
    standalone->setText(tr("Work stand-alone"));
    help(standalone, standaloneHelp);
    setServer->setText(tr("Set"));
    textLabel1_2_3->setText(tr("System Server"));
    server->setText(QString());
    help(server, serverHelp);
    textLabel1_2_3_2->setText(tr("Reserve Server"));
    reserveserver->setText(QString());
    reserveserver->setToolTip(reserveTip);
    reserveserver->setWhatsThis(reserveWhatsThis);
    reserveserver->setAccessibleDescription(plain(reserveWhatsThis));
    setReserveServer->setText(tr("Set"));
    groupBox6->setTitle(tr("Identity"));
    textLabel1_2_2->setText(tr("Workstation ID"));
    workstation->setText(QString());
    help(workstation, workstationHelp);
    setWorkstation->setText(tr("Set"));
    groupBox4_2->setTitle(tr("Developer"));
    developer->setText(tr("Developer Mode"));
    help(developer, developerHelp);
    textLabel1_3->setText(
        tr("<p>This doesn't get you any fancy features but probably does stop your machine working "
           "properly if you don't know what you're doing!</p>"));
    ok->setText(tr("Ok"));
    cancel->setText(tr("Cancel"));
    setButtonNames();
    textLabel1_4->setAccessibleName(plain(textLabel1_4->text()));
    textLabel1_3->setAccessibleName(plain(textLabel1_3->text()));
}
