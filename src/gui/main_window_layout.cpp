#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QVBoxLayout>
#include <initializer_list>

#include "gui/main_window.h"

namespace parlix {

namespace {

QHBoxLayout* row(std::initializer_list<QWidget*> widgets, bool stretchAtEnd = true) {
    auto* layout = new QHBoxLayout;
    for (QWidget* w : widgets) {
        layout->addWidget(w);
    }
    if (stretchAtEnd) {
        layout->addStretch(1);
    }
    return layout;
}

void setBuddy(QWidget* label, QWidget* buddy) {
    static_cast<QLabel*>(label)->setBuddy(buddy);
}

}  // namespace

void MainWindow::layOut() {
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(buildConnectArea());
    layout->addWidget(buildPanels(), 1);
    setCentralWidget(central);
}

QWidget* MainWindow::buildConnectArea() {
    auto w = [this](const char* name) { return widget(name); };
    QWidget* frame = w("fmConnect");

    auto* fields = new QGridLayout;
    fields->addWidget(w("Label7"), 0, 0);
    fields->addWidget(w("txtUserId"), 0, 1);
    fields->addWidget(w("Label6"), 0, 2);
    fields->addWidget(w("txtUSerPassWord"), 0, 3);
    fields->addWidget(w("cmdConnect2"), 0, 4);
    fields->addWidget(w("cmdexit2"), 0, 5);
    fields->addWidget(w("Label10"), 1, 0);
    fields->addWidget(w("CMB_Senderid"), 1, 1);
    fields->addWidget(w("TXT_SENDERID"), 1, 3);
    fields->setColumnStretch(1, 1);
    fields->setColumnStretch(3, 1);
    setBuddy(w("Label7"), w("txtUserId"));
    setBuddy(w("Label6"), w("txtUSerPassWord"));
    setBuddy(w("Label10"), w("CMB_Senderid"));

    auto* proxy = new QGridLayout(w("Frm_proxy"));
    proxy->addWidget(w("Label2"), 0, 0);
    proxy->addWidget(w("Text2"), 0, 1);
    proxy->addWidget(w("Label1"), 0, 2);
    proxy->addWidget(w("Text1"), 0, 3);
    proxy->addWidget(w("Label5"), 1, 0);
    proxy->addWidget(w("Text4"), 1, 1);
    proxy->addWidget(w("Label4"), 1, 2);
    proxy->addWidget(w("Text3"), 1, 3);
    setBuddy(w("Label2"), w("Text2"));
    setBuddy(w("Label1"), w("Text1"));
    setBuddy(w("Label5"), w("Text4"));
    setBuddy(w("Label4"), w("Text3"));

    auto* layout = new QVBoxLayout(frame);
    layout->addLayout(fields);
    layout->addLayout(row(
        {w("Cmd_ServerSetting"), w("Cmd_Internet"), w("Cmd_Logs"), w("Command1"), w("Chk_proxy")}));
    layout->addWidget(w("Frm_proxy"));
    auto* counters = row({w("LblSent"), w("lblSMS")});
    counters->setSpacing(24);
    counters->addWidget(w("Label3"));
    layout->addLayout(counters);
    return frame;
}

QWidget* MainWindow::buildPanels() {
    auto w = [this](const char* name) { return widget(name); };

    auto* logs = new QHBoxLayout(w("Frm_Logs"));
    logs->addWidget(w("txt_msg"), 2);
    logs->addWidget(w("txtMsg"), 1);

    auto* settings = new QGridLayout(w("Frm_Serversetting"));
    settings->addWidget(w("Label8"), 0, 0);
    settings->addWidget(w("Combo1"), 0, 1);
    settings->addWidget(w("TxtNewIP"), 0, 2);
    settings->addWidget(w("Label9"), 1, 0);
    settings->addWidget(w("Combo2"), 1, 1);
    settings->addWidget(w("Chk_VistaOS"), 2, 0, 1, 3);
    settings->addWidget(w("Chk_DownloadDR"), 3, 0, 1, 3);
    settings->addWidget(w("ChkIdPass"), 4, 0, 1, 3);
    settings->addLayout(row({w("Cmd_Save"), w("Cmd_AlterDatabase"), w("Cmd_DownloadDR")}), 5, 0, 1,
                        3);
    settings->setColumnStretch(2, 1);
    settings->setRowStretch(6, 1);
    setBuddy(w("Label8"), w("Combo1"));
    setBuddy(w("Label9"), w("Combo2"));

    auto* internet = new QVBoxLayout(w("Frm_Internet"));
    internet->addWidget(w("Text5"), 1);
    internet->addLayout(row({w("Cmd_CheckInternet")}));

    // The three panels share one place; the model keeps exactly one of them visible.
    auto* area = new QWidget;
    auto* shared = new QGridLayout(area);
    shared->setContentsMargins(0, 0, 0, 0);
    for (const char* panel : {"Frm_Logs", "Frm_Serversetting", "Frm_Internet"}) {
        shared->addWidget(w(panel), 0, 0);
    }
    return area;
}

void MainWindow::buildStatusLine() {
    m_activity = new QLabel;
    m_activity->setObjectName(QStringLiteral("statusActivity"));
    m_progress = new QProgressBar;
    m_progress->setObjectName(QStringLiteral("statusProgress"));
    // No end is known in advance: the bar only shows that work is going on.
    m_progress->setRange(0, 0);
    m_progress->setMaximumWidth(120);
    m_newestLog = new QLabel;
    m_newestLog->setObjectName(QStringLiteral("statusNewestLog"));
    m_newestLog->setTextFormat(Qt::PlainText);
    m_dispatch = new QLabel;
    m_dispatch->setObjectName(QStringLiteral("statusDispatch"));
    statusBar()->addWidget(m_activity);
    statusBar()->addWidget(m_progress);
    statusBar()->addWidget(m_newestLog, 1);
    statusBar()->addPermanentWidget(m_dispatch);
    showActivity();
}

}  // namespace parlix
