#pragma once

#include <QString>
#include <string>

class QWidget;

namespace parlix {

struct Element;

/// A new widget for an element, named after it; its state comes with the first mirrorElement().
/// nullptr for the elements that have none: the window itself, its timer, the transfer element.
QWidget* createElementWidget(const Element& e);

/// Shows the element's state on its widget without raising the widget's own signals.
void mirrorElement(QWidget& widget, const Element& e);

/// The model keeps line breaks as CR LF; the widgets show LF.
QString toViewText(const std::string& text);
std::string toModelText(const QString& text);

}  // namespace parlix
