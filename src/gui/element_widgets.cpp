#include "gui/element_widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include "model/element.h"

namespace parlix {

namespace {

QWidget* createTextBox(const Element& e) {
    if (e.multiline) {
        auto* box = new QPlainTextEdit;
        box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        return box;
    }
    auto* box = new QLineEdit;
    if (e.password) {
        box->setEchoMode(QLineEdit::Password);
        // Styles draw their own mask character (often a bullet); the window shows '*' (42).
        box->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    }
    return box;
}

QWidget* createComboBox() {
    auto* combo = new QComboBox;
    combo->setEditable(true);
    // The model owns the list: Enter in the box must not add the typed text to it.
    combo->setInsertPolicy(QComboBox::NoInsert);
    return combo;
}

QWidget* createLabel() {
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    return label;
}

QWidget* createWidget(const Element& e) {
    switch (e.kind) {
        case ElementKind::Frame:
            return new QGroupBox;
        case ElementKind::Label:
            return createLabel();
        case ElementKind::TextBox:
            return createTextBox(e);
        case ElementKind::ComboBox:
            return createComboBox();
        case ElementKind::CheckBox:
            return new QCheckBox;
        case ElementKind::Button:
            return new QPushButton;
        case ElementKind::Window:
        case ElementKind::Timer:
        case ElementKind::Transfer:
            break;
    }
    return nullptr;
}

QStringList toStringList(const std::vector<std::string>& items) {
    QStringList list;
    list.reserve(static_cast<qsizetype>(items.size()));
    for (const std::string& item : items) {
        list.append(QString::fromStdString(item));
    }
    return list;
}

void mirrorComboBox(QComboBox& combo, const Element& e) {
    QStringList items = toStringList(e.items);
    QStringList shown;
    for (int i = 0; i < combo.count(); ++i) {
        shown.append(combo.itemText(i));
    }
    if (shown != items) {
        combo.clear();
        combo.addItems(items);
    }
    if (combo.currentIndex() != e.listIndex) {
        combo.setCurrentIndex(e.listIndex);
    }
    QString text = QString::fromStdString(e.text);
    if (combo.currentText() != text) {
        combo.setEditText(text);
    }
}

void mirrorText(QWidget& widget, const Element& e) {
    if (auto* line = qobject_cast<QLineEdit*>(&widget)) {
        QString text = QString::fromStdString(e.text);
        if (line->text() != text) {
            line->setText(text);
        }
    } else if (auto* edit = qobject_cast<QPlainTextEdit*>(&widget)) {
        QString text = toViewText(e.text);
        if (edit->toPlainText() != text) {
            edit->setPlainText(text);
        }
    }
}

}  // namespace

QWidget* createElementWidget(const Element& e) {
    QWidget* widget = createWidget(e);
    if (widget != nullptr) {
        widget->setObjectName(QString::fromStdString(e.name));
    }
    return widget;
}

void mirrorElement(QWidget& widget, const Element& e) {
    const QSignalBlocker blocker(widget);
    QString text = QString::fromStdString(e.text);
    switch (e.kind) {
        case ElementKind::Frame:
            static_cast<QGroupBox&>(widget).setTitle(text);
            break;
        case ElementKind::Label:
            static_cast<QLabel&>(widget).setText(text);
            break;
        case ElementKind::TextBox:
            mirrorText(widget, e);
            break;
        case ElementKind::ComboBox:
            mirrorComboBox(static_cast<QComboBox&>(widget), e);
            break;
        case ElementKind::CheckBox:
            static_cast<QCheckBox&>(widget).setText(text);
            static_cast<QCheckBox&>(widget).setChecked(e.value != 0);
            break;
        case ElementKind::Button:
            static_cast<QPushButton&>(widget).setText(text);
            break;
        case ElementKind::Window:
        case ElementKind::Timer:
        case ElementKind::Transfer:
            break;
    }
    widget.setEnabled(e.enabled);
    if (widget.isHidden() == e.visible) {
        widget.setVisible(e.visible);
    }
}

QString toViewText(const std::string& text) {
    QString view = QString::fromStdString(text);
    view.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return view;
}

std::string toModelText(const QString& text) {
    QString model = text;
    model.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return model.toStdString();
}

}  // namespace parlix
