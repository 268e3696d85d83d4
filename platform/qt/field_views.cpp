// Text fields: the edit field and the combo box with its editable field.
#include <QAction>
#include <QComboBox>
#include <QCompleter>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QStringListModel>
#include <QStyle>
#include <QTimer>

#include "platform/qt/control_kinds.h"
#include "platform/qt/field_suggestions.h"
#include "platform/qt/typed_text.h"
#include "platform/win32/input.h"

namespace twqt {
namespace {

// The field's context menu would run a nested event loop, in which the
// program's messages (a worker's status text among them) would wait until
// the menu closed.
void PrepareField(QLineEdit* field, DWORD style) {
  field->setContextMenuPolicy(Qt::NoContextMenu);
  field->setFocusPolicy((style & WS_TABSTOP) != 0 ? Qt::StrongFocus : Qt::ClickFocus);
}

// Hands what the user typed to the window system; false when it refused.
bool SendTyped(HWND field, TypedText& typed, const QString& text) {
  QByteArray bytes = text.toUtf8();
  if (!twplat::ReplaceText(field, bytes.constData())) {
    typed.Refused();
    return false;
  }
  typed.Sent(text);
  return true;
}

// Sets a field's text only when it differs, so the caret stays where the
// user left it. A field the user is not in shows the beginning of a text
// too long for it, as Windows' fields do.
void ShowText(QLineEdit* field, const QString& text) {
  if (field->text() != text) {
    field->setText(text);
  }
  if (!field->hasFocus()) {
    field->setCursorPosition(0);
  }
}

// How often a field with suggestions asks its source for the current texts.
constexpr int kSuggestionRefreshMs = 1000;

class EditView : public ControlView {
 public:
  EditView(HWND window, QLineEdit* field) : ControlView(window, field), field_(field) {
    QObject::connect(field_, &QLineEdit::textEdited, context(), [this](const QString& text) {
      if (!SendTyped(handle(), typed_, text)) {
        Revert();
      }
    });
  }

  // Completes typing from the source's texts; an arrow button in the field
  // drops them all down. A chosen text is sent as typed.
  void Suggest(SuggestionSource source) {
    source_ = std::move(source);
    auto* model = new QStringListModel(field_);
    auto* completer = new QCompleter(model, field_);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setCompletionMode(QCompleter::PopupCompletion);
    field_->setCompleter(completer);
    QObject::connect(completer, qOverload<const QString&>(&QCompleter::activated), context(),
                     [this](const QString& text) {
                       if (!SendTyped(handle(), typed_, text)) {
                         Revert();
                       }
                     });
    QAction* dropDown = field_->addAction(field_->style()->standardIcon(QStyle::SP_ArrowDown),
                                          QLineEdit::TrailingPosition);
    dropDown->setToolTip(QStringLiteral("Servers found"));
    QObject::connect(dropDown, &QAction::triggered, context(), [completer] {
      completer->setCompletionPrefix(QString());
      completer->complete();
    });
    auto refresh = [this, model] {
      QStringList texts;
      for (const std::string& text : source_()) {
        texts.append(QString::fromStdString(text));
      }
      if (model->stringList() != texts) {
        model->setStringList(texts);
      }
    };
    refresh();
    auto* timer = new QTimer(field_);
    QObject::connect(timer, &QTimer::timeout, context(), refresh);
    timer->start(kSuggestionRefreshMs);
  }

 protected:
  void ShowState(const twplat::WindowState& state) override {
    QString text = QString::fromUtf8(state.text);
    if (typed_.ShouldShow(text)) {
      ShowText(field_, text);
    }
  }

 private:
  QLineEdit* field_;
  TypedText typed_;
  SuggestionSource source_;
};

class ComboView : public ControlView {
 public:
  ComboView(HWND window, QComboBox* combo) : ControlView(window, combo), combo_(combo) {
    QObject::connect(combo_->lineEdit(), &QLineEdit::textEdited, context(),
                     [this](const QString& text) {
                       if (!SendTyped(handle(), typed_, text)) {
                         Revert();
                       }
                     });
    QObject::connect(combo_, &QComboBox::activated, context(), [this](int index) {
      if (!twplat::SelectComboItem(handle(), index)) {
        Revert();
      }
    });
  }

 protected:
  // Refilling the list and changing the current entry clear the field, so
  // the field's text is put back when the report is not to be shown.
  void ShowState(const twplat::WindowState& state) override {
    QLineEdit* field = combo_->lineEdit();
    QSignalBlocker quietField(field);
    const QString before = field->text();
    const int caret = field->cursorPosition();
    ShowItems(state);
    if (combo_->currentIndex() != state.selection) {
      combo_->setCurrentIndex(state.selection);
    }
    QString reported = QString::fromUtf8(state.text);
    if (typed_.ShouldShow(reported) || state.selection >= 0) {
      ShowText(field, reported);
    } else if (field->text() != before) {
      field->setText(before);
      field->setCursorPosition(caret);
    }
  }

 private:
  void ShowItems(const twplat::WindowState& state) {
    QStringList items;
    for (const std::string& item : state.items) {
      items.append(QString::fromUtf8(item));
    }
    QStringList shown;
    for (int index = 0; index < combo_->count(); ++index) {
      shown.append(combo_->itemText(index));
    }
    if (shown != items) {
      combo_->clear();
      combo_->addItems(items);
    }
  }

  QComboBox* combo_;
  TypedText typed_;
};

}  // namespace

std::unique_ptr<ControlView> MakeEditView(const twplat::WindowDescription& control,
                                          const QRect& place, QWidget* dialog) {
  auto* field = new QLineEdit(dialog);
  field->setGeometry(place);
  field->setFrame((control.style & WS_BORDER) != 0);
  PrepareField(field, control.style);
  if ((control.style & ES_NUMBER) != 0) {
    field->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), field));
  }
  auto view = std::make_unique<EditView>(control.handle, field);
  if (SuggestionSource source = SuggestionsFor(control.id)) {
    view->Suggest(std::move(source));
  }
  return view;
}

std::unique_ptr<ControlView> MakeComboView(const twplat::WindowDescription& control,
                                           const QRect& place, QWidget* dialog) {
  auto* combo = new QComboBox(dialog);
  combo->setEditable(true);
  // The window system keeps the entries: Enter never adds one, and no
  // completion changes the text behind its back.
  combo->setInsertPolicy(QComboBox::NoInsert);
  combo->setCompleter(nullptr);
  combo->setGeometry(place.x(), place.y(), place.width(), combo->sizeHint().height());
  PrepareField(combo->lineEdit(), control.style);
  combo->setFocusPolicy(combo->lineEdit()->focusPolicy());
  return std::make_unique<ComboView>(control.handle, combo);
}

}  // namespace twqt
