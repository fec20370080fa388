#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/activity_log.h"
#include "db/message_queue.h"
#include "model/dispatch_counters.h"
#include "model/element.h"

namespace parlix {

/// Connection values start-up hands to the gateway transfer element `SendMsgURL`.
struct TransferSettings {
    std::string proxyHost;
    int proxyPort = 0;
    std::string userName;
    std::string password;
};

/// The main window `SendMsg` as plain data: its elements and the values its subsystems share.
///
/// Setting a text, value or selection from code runs the same change or click handler as an
/// operator's edit would, and only when the value really changes. The view observes the model
/// and mirrors every change; an operator's edit comes back through the same setters.
class FormModel : public ActivityLog {
public:
    using Handler = std::function<void()>;
    using Observer = std::function<void(const Element&)>;

    FormModel();
    ~FormModel() override;
    FormModel(const FormModel&) = delete;
    FormModel& operator=(const FormModel&) = delete;

    /// An element by name; raises std::out_of_range for a name the window does not have.
    const Element& el(const std::string& name) const;
    /// Every element in design order.
    const std::vector<std::string>& names() const { return m_order; }
    /// Visible itself and inside visible frames.
    bool isShown(const std::string& name) const;

    const std::string& text(const std::string& name) const { return el(name).text; }
    int value(const std::string& name) const { return el(name).value; }
    bool enabled(const std::string& name) const { return el(name).enabled; }
    bool visible(const std::string& name) const { return el(name).visible; }

    /// Text of a box or combo box (runs its Change handler), or caption of anything else.
    void setText(const std::string& name, const std::string& text);
    /// Value of a check box; runs its Click handler.
    void setValue(const std::string& name, int value);
    /// Selects an item of a combo box, taking its text; runs its Click handler.
    void setListIndex(const std::string& name, int index);
    void addItem(const std::string& name, const std::string& item);
    void setVisible(const std::string& name, bool visible);
    void setEnabled(const std::string& name, bool enabled);
    /// Asks the view to repaint an element now.
    void refresh(const std::string& name);

    /// Raises an event as the window would: a button's click, a box losing focus, a tick.
    void fire(const std::string& name, Event event);
    /// Attaches the handler of an element's event (one per pair).
    void on(const std::string& name, Event event, Handler handler);
    /// Registers a view; it hears of every change.
    void observe(Observer observer);
    /// Registers a listener that hears of every entry put on top of the activity log.
    void onLogEntry(std::function<void(const std::string&)> listener);

    /// `WriteLog`: puts an entry on top of the activity log, followed by an empty line, above at
    /// most 3000 characters of the older text.
    void writeLog(const std::string& entry) override;
    /// Puts `line` and one line break on top of `txt_msg`, above at most 3000 older characters.
    void prependToLog(const std::string& line);

    /// The queue repository of `dbConnection`; raises DbError when there is no connection.
    MessageQueue& queue();

    // Values shared by the window's subsystems.
    /// The connection to the queue database, with every statement the program runs on it.
    std::unique_ptr<MessageQueue> dbConnection;
    std::int32_t smsBalance = 0;
    std::string serverAddress;
    std::int16_t serverNo = 0;
    bool uploadOk = false;
    std::string localIP;
    bool loginOk = false;
    bool firstLogin = false;
    bool drAllowed = false;
    double drTickCount = 0;
    std::string requestUrl;
    std::string comportNo;
    double singleBatchSize = 0;
    double sentSmsCount = 0;
    double messageSerial = 0;
    /// What the transfer element `SendMsgURL` was given at start-up.
    TransferSettings transfer;
    DispatchCounters counters;

private:
    Element& mut(const std::string& name);
    void notify(const Element& e);

    std::map<std::string, Element> m_elements;
    std::vector<std::string> m_order;
    std::map<std::pair<std::string, Event>, Handler> m_handlers;
    std::vector<Observer> m_observers;
    std::vector<std::function<void(const std::string&)>> m_logListeners;
};

}  // namespace parlix
