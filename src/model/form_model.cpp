#include "model/form_model.h"

#include <stdexcept>

#include "db/db_error.h"

namespace parlix {

namespace {

constexpr size_t kLogKeep = 3000;

}  // namespace

FormModel::FormModel() {
    for (Element& e : mainWindowElements()) {
        m_order.push_back(e.name);
        m_elements.emplace(e.name, std::move(e));
    }
}

FormModel::~FormModel() = default;

const Element& FormModel::el(const std::string& name) const {
    auto it = m_elements.find(name);
    if (it == m_elements.end()) {
        throw std::out_of_range("the window has no element " + name);
    }
    return it->second;
}

Element& FormModel::mut(const std::string& name) {
    return const_cast<Element&>(el(name));
}

bool FormModel::isShown(const std::string& name) const {
    for (const Element* e = &el(name);; e = &el(e->container)) {
        if (!e->visible) {
            return false;
        }
        if (e->container.empty()) {
            return true;
        }
    }
}

void FormModel::notify(const Element& e) {
    for (const Observer& o : m_observers) {
        o(e);
    }
}

void FormModel::setText(const std::string& name, const std::string& text) {
    Element& e = mut(name);
    if (e.text == text) {
        return;
    }
    e.text = text;
    if (e.kind == ElementKind::ComboBox) {
        e.listIndex = -1;
        for (size_t i = 0; i < e.items.size(); ++i) {
            if (e.items[i] == text) {
                e.listIndex = static_cast<int>(i);
                break;
            }
        }
    }
    notify(e);
    if (e.kind == ElementKind::TextBox || e.kind == ElementKind::ComboBox) {
        fire(name, Event::Change);
    }
}

void FormModel::setValue(const std::string& name, int value) {
    Element& e = mut(name);
    if (e.value == value) {
        return;
    }
    e.value = value;
    notify(e);
    fire(name, Event::Click);
}

void FormModel::setListIndex(const std::string& name, int index) {
    Element& e = mut(name);
    if (index < -1 || index >= static_cast<int>(e.items.size())) {
        throw std::out_of_range("no item " + std::to_string(index) + " in " + name);
    }
    if (e.listIndex == index) {
        return;
    }
    e.listIndex = index;
    e.text = index < 0 ? std::string() : e.items[static_cast<size_t>(index)];
    notify(e);
    fire(name, Event::Click);
}

void FormModel::addItem(const std::string& name, const std::string& item) {
    Element& e = mut(name);
    e.items.push_back(item);
    notify(e);
}

void FormModel::setVisible(const std::string& name, bool visible) {
    Element& e = mut(name);
    if (e.visible != visible) {
        e.visible = visible;
        notify(e);
    }
}

void FormModel::setEnabled(const std::string& name, bool enabled) {
    Element& e = mut(name);
    if (e.enabled != enabled) {
        e.enabled = enabled;
        notify(e);
    }
}

void FormModel::refresh(const std::string& name) {
    notify(el(name));
}

void FormModel::fire(const std::string& name, Event event) {
    auto it = m_handlers.find({name, event});
    if (it != m_handlers.end()) {
        // A copy: the handler may replace itself while it runs.
        Handler h = it->second;
        h();
    }
}

void FormModel::on(const std::string& name, Event event, Handler handler) {
    el(name);
    m_handlers[{name, event}] = std::move(handler);
}

void FormModel::observe(Observer observer) {
    m_observers.push_back(std::move(observer));
}

MessageQueue& FormModel::queue() {
    if (!dbConnection) {
        throw DbError(kDbNotOpen, "The database connection is not open");
    }
    return *dbConnection;
}

void FormModel::onLogEntry(std::function<void(const std::string&)> listener) {
    m_logListeners.push_back(std::move(listener));
}

void FormModel::writeLog(const std::string& entry) {
    const std::string& old = text("txt_msg");
    setText("txt_msg", entry + "\r\n\r\n" + old.substr(0, kLogKeep));
    for (const auto& listener : m_logListeners) {
        listener(entry);
    }
}

void FormModel::prependToLog(const std::string& line) {
    const std::string& old = text("txt_msg");
    setText("txt_msg", line + "\r\n" + old.substr(0, kLogKeep));
    for (const auto& listener : m_logListeners) {
        listener(line);
    }
}

}  // namespace parlix
