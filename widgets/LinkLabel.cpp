#include "widgets/LinkLabel.h"

#include <QAccessibleWidget>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <mutex>

namespace quillet::widgets {
namespace {

class LinkLabelAccessible : public QAccessibleWidget {
 public:
  explicit LinkLabelAccessible(LinkLabel* label) : QAccessibleWidget(label, QAccessible::Link) {
    addControllingSignal(QStringLiteral("activated(QUrl)"));
  }

  QString text(QAccessible::Text type) const override {
    const auto* label = static_cast<const LinkLabel*>(widget());
    switch (type) {
      case QAccessible::Name: {
        const QString name = label->accessibleName();
        return name.isEmpty() ? label->text() : name;
      }
      case QAccessible::Value: return label->Target().toString();
      case QAccessible::Description: {
        const QString description = label->accessibleDescription();
        return description.isEmpty() ? label->Target().toString() : description;
      }
      default: return QAccessibleWidget::text(type);
    }
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.linked = true;
    state.traversed = false;
    return state;
  }

  QStringList actionNames() const override {
    QStringList names = QAccessibleWidget::actionNames();
    if (widget()->isEnabled()) names.prepend(pressAction());
    return names;
  }

  void doAction(const QString& action) override {
    if (action == pressAction() && widget()->isEnabled()) {
      static_cast<LinkLabel*>(widget())->Activate();
      return;
    }
    QAccessibleWidget::doAction(action);
  }
};

QAccessibleInterface* LinkLabelFactory(const QString& className, QObject* object) {
  if (className == QLatin1String(LinkLabel::staticMetaObject.className())) {
    if (auto* label = qobject_cast<LinkLabel*>(object)) return new LinkLabelAccessible(label);
  }
  return nullptr;
}

}  // namespace

void InstallLinkLabelAccessibility() {
  static std::once_flag once;
  std::call_once(once, [] { QAccessible::installFactory(LinkLabelFactory); });
}

LinkLabel::LinkLabel(QWidget* parent) : QLabel(parent) {
  InstallLinkLabelAccessibility();
  // The caption is shown as given, never read as markup.
  setTextFormat(Qt::PlainText);
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::PointingHandCursor);
  ApplyLook();
}

LinkLabel::LinkLabel(const QString& caption, const QUrl& target, QWidget* parent) : LinkLabel(parent) {
  setText(caption);
  SetTarget(target);
}

void LinkLabel::SetTarget(const QUrl& target) {
  target_ = target;
  setToolTip(target.toString());
}

bool LinkLabel::Activate() {
  if (!isEnabled() || !target_.isValid() || target_.isEmpty()) return false;
  emit activated(target_);
  return QDesktopServices::openUrl(target_);
}

void LinkLabel::ApplyLook() {
  QFont underlined = font();
  if (!underlined.underline()) {
    underlined.setUnderline(true);
    setFont(underlined);
  }
  // The palette's link colour, kept when the palette changes.
  QPalette linkPalette = palette();
  const QColor link = linkPalette.color(QPalette::Link);
  if (linkPalette.color(QPalette::WindowText) != link) {
    linkPalette.setColor(QPalette::WindowText, link);
    setPalette(linkPalette);
  }
}

void LinkLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) ApplyLook();
}

void LinkLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    pressed_ = true;
    event->accept();
    return;
  }
  QLabel::mousePressEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  // Like a button: the release must land on the label for the click to count.
  if (event->button() == Qt::LeftButton && pressed_) {
    pressed_ = false;
    if (rect().contains(event->position().toPoint())) Activate();
    event->accept();
    return;
  }
  QLabel::mouseReleaseEvent(event);
}

void LinkLabel::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        Activate();
        event->accept();
        return;
      }
      break;
    default:
      break;
  }
  QLabel::keyPressEvent(event);
}

void LinkLabel::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  if (!hasFocus()) return;
  // QLabel draws no focus indication of its own; keyboard users need to see where they are.
  QPainter painter(this);
  QStyleOptionFocusRect option;
  option.initFrom(this);
  option.rect = contentsRect();
  option.backgroundColor = palette().color(QPalette::Window);
  style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
}

}  // namespace quillet::widgets
