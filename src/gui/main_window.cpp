#include "gui/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "gui/element_widgets.h"
#include "model/form_model.h"

namespace parlix {

namespace {

constexpr const char* kWindowElement = "SendMsg";
constexpr const char* kTimerElement = "SendMessage";
constexpr const char* kLogElement = "txt_msg";

// Focus that leaves the window, or goes to a popup such as a combo box's own list, has not moved
// on to another control of the window: it raises no Validate and no LostFocus.
bool movesToAnotherControl(Qt::FocusReason reason, const QWidget* window) {
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason ||
        reason == Qt::MenuBarFocusReason) {
        return false;
    }
    const QWidget* next = QApplication::focusWidget();
    return next != nullptr && next->window() == window;
}

QString firstLine(const std::string& text) {
    QString view = toViewText(text);
    return view.left(view.indexOf(QLatin1Char('\n')));
}

}  // namespace

MainWindow::MainWindow(FormModel& form, HandlerRunner run, std::function<void()> unload,
                       QWidget* parent)
    : QMainWindow(parent),
      m_form(form),
      m_run(std::move(run)),
      m_unload(std::move(unload)),
      m_alive(std::make_shared<bool>(true)) {
    setObjectName(QString::fromLatin1(kWindowElement));
    m_sendTimer = new QTimer(this);
    m_sendTimer->setObjectName(QString::fromLatin1(kTimerElement));
    connect(m_sendTimer, &QTimer::timeout, this, [this] { fire(kTimerElement, Event::Timer); });

    createWidgets();
    layOut();
    buildStatusLine();
    bindOperatorEdits();
    for (const std::string& name : m_form.names()) {
        mirror(m_form.el(name));
    }
    // The model outlives nothing it is told about: a view that is gone stops listening.
    std::weak_ptr<bool> alive = m_alive;
    m_form.observe([this, alive](const Element& e) {
        if (!alive.expired()) {
            mirror(e);
        }
    });
    resize(760, 560);
}

MainWindow::~MainWindow() {
    m_alive.reset();
    m_sendTimer->stop();
    // Deleting a focused child sends it a focus-out; that must not reach the model any more.
    for (const auto& [watched, name] : m_watched) {
        watched->removeEventFilter(this);
    }
    for (const auto& [name, w] : m_widgets) {
        QObject::disconnect(w, nullptr, this, nullptr);
    }
}

void MainWindow::createWidgets() {
    for (const std::string& name : m_form.names()) {
        if (QWidget* w = createElementWidget(m_form.el(name))) {
            m_widgets.emplace(name, w);
        }
    }
}

void MainWindow::bindOperatorEdits() {
    for (const auto& [name, w] : m_widgets) {
        bindWidget(m_form.el(name), w);
    }
}

void MainWindow::bindWidget(const Element& e, QWidget* w) {
    const std::string name = e.name;
    auto watch = [this, &name](QObject* watched) {
        watched->installEventFilter(this);
        m_watched.emplace(watched, name);
    };
    if (auto* line = qobject_cast<QLineEdit*>(w)) {
        connect(line, &QLineEdit::textEdited, this, [this, name](const QString& text) {
            runHandler([&] { m_form.setText(name, text.toStdString()); });
        });
        watch(line);
    } else if (auto* edit = qobject_cast<QPlainTextEdit*>(w)) {
        connect(edit, &QPlainTextEdit::textChanged, this, [this, name, edit] {
            std::string text = toModelText(edit->toPlainText());
            runHandler([&] { m_form.setText(name, text); });
        });
        watch(edit);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        connect(combo, &QComboBox::activated, this,
                [this, name](int index) { runHandler([&] { m_form.setListIndex(name, index); }); });
        connect(combo->lineEdit(), &QLineEdit::textEdited, this, [this, name](const QString& text) {
            runHandler([&] { m_form.setText(name, text.toStdString()); });
        });
        watch(combo);
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
        connect(check, &QCheckBox::clicked, this, [this, name](bool checked) {
            runHandler([&] { m_form.setValue(name, checked ? 1 : 0); });
        });
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
        connect(button, &QPushButton::clicked, this, [this, name] { fire(name, Event::Click); });
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // A click is the left button's; a right click opens the box's menu.
    if (event->type() == QEvent::MouseButtonRelease && qobject_cast<QLineEdit*>(watched) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        auto it = m_watched.find(watched);
        if (it != m_watched.end()) {
            fire(it->second, Event::Click);
        }
    } else if (event->type() == QEvent::FocusOut) {
        auto it = m_watched.find(watched);
        auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (it != m_watched.end() && movesToAnotherControl(reason, this)) {
            const std::string name = it->second;
            runHandler([&] {
                m_form.fire(name, Event::Validate);
                m_form.fire(name, Event::LostFocus);
            });
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The close is never refused; the unload normally ends the program before it returns.
    event->accept();
    runHandler(m_unload);
}

void MainWindow::mirror(const Element& e) {
    if (e.kind == ElementKind::Window) {
        setWindowTitle(QString::fromStdString(e.text));
        centralWidget()->setEnabled(e.enabled);
        return;
    }
    if (e.kind == ElementKind::Timer) {
        bool runs = e.enabled && e.interval > 0;
        if (m_sendTimer->interval() != e.interval) {
            m_sendTimer->setInterval(e.interval);
        }
        if (runs && !m_sendTimer->isActive()) {
            m_sendTimer->start();
        } else if (!runs) {
            m_sendTimer->stop();
        }
        m_dispatch->setText(runs ? tr("Dispatch on") : tr("Dispatch off"));
        return;
    }
    if (QWidget* w = widget(e.name)) {
        mirrorElement(*w, e);
    }
    if (e.name == kLogElement) {
        m_newestLog->setText(firstLine(e.text));
    }
}

void MainWindow::fire(const std::string& name, Event event) {
    runHandler([&] { m_form.fire(name, event); });
}

void MainWindow::runHandler(const std::function<void()>& handler) {
    // Counted on the way out too when the handler ends the program by throwing (tests do).
    struct Running {
        MainWindow& w;
        explicit Running(MainWindow& window) : w(window) {
            ++w.m_handlersRunning;
            w.showActivity();
        }
        ~Running() {
            --w.m_handlersRunning;
            w.showActivity();
        }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
    } running(*this);
    m_run(handler);
}

void MainWindow::showBusyPointer(bool busy) {
    m_busyPointer = busy;
    showActivity();
}

void MainWindow::showActivity() {
    // Only long work lets the window repaint while a handler runs (it processes events at its
    // wait points), so short handlers never flash the indicator.
    bool working = m_busyPointer || m_handlersRunning > 0;
    m_activity->setText(working ? tr("Working…") : tr("Ready"));
    m_progress->setVisible(working);
}

QWidget* MainWindow::widget(const std::string& name) const {
    auto it = m_widgets.find(name);
    return it == m_widgets.end() ? nullptr : it->second;
}

}  // namespace parlix
