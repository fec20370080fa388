#pragma once

#include <QMainWindow>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "gui/handler_runner.h"
#include "model/element.h"

class QLabel;
class QProgressBar;
class QTimer;

namespace parlix {

class FormModel;

/// The main window: one widget per element of the form model, named after it. The window
/// mirrors every change of the model and hands every operator's edit back to the model's
/// setters and events, which run the handlers. A status line at the bottom shows when the
/// program is at work and the newest entry of the activity log.
class MainWindow final : public QMainWindow {
    Q_OBJECT

public:
    /// `run` runs every handler a widget raises; `unload` runs when the window is closed.
    MainWindow(FormModel& form, HandlerRunner run, std::function<void()> unload,
               QWidget* parent = nullptr);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    /// The program's busy pointer came on or went off.
    void showBusyPointer(bool busy);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createWidgets();
    void layOut();
    QWidget* buildConnectArea();
    QWidget* buildPanels();
    void buildStatusLine();
    void bindOperatorEdits();
    void bindWidget(const Element& e, QWidget* widget);

    void mirror(const Element& e);
    void runHandler(const std::function<void()>& handler);
    void fire(const std::string& name, Event event);
    void showActivity();
    QWidget* widget(const std::string& name) const;

    FormModel& m_form;
    HandlerRunner m_run;
    std::function<void()> m_unload;
    std::map<std::string, QWidget*> m_widgets;
    std::map<QObject*, std::string> m_watched;
    QTimer* m_sendTimer = nullptr;
    QLabel* m_activity = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_newestLog = nullptr;
    QLabel* m_dispatch = nullptr;
    std::shared_ptr<bool> m_alive;
    int m_handlersRunning = 0;
    bool m_busyPointer = false;
};

}  // namespace parlix
