#include "ui/form1.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextDocument>
#include <algorithm>
#include <exception>
#include <new>
#include <utility>

namespace {

// Each box has a fixed place in the 448 x 341 client area; the form has no
// layout, so enlarging the window moves nothing.
QPlainTextEdit* MakeTextBox(QWidget* parent, const char* object_name,
                            const QString& accessible_name, int top) {
  auto* box = new QPlainTextEdit(parent);
  box->setObjectName(QString::fromLatin1(object_name));
  box->setAccessibleName(accessible_name);
  box->setGeometry(15, top, 417, 84);
  box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  // Tab moves between the controls rather than typing a tab character.
  box->setTabChangesFocus(true);
  return box;
}

// The text as the box holds it. toPlainText() would also turn non-breaking
// spaces into spaces, which the engine treats as word breaks, so only the
// box's own line breaks (paragraph and line separators) become "\n".
QString BoxText(const QPlainTextEdit& box) {
  QString text = box.document()->toRawText();
  text.replace(QChar::ParagraphSeparator, u'\n');
  text.replace(QChar::LineSeparator, u'\n');
  return text;
}

// A warning prompt quotes the group it is about, which can be a whole pasted
// strategy. Within these limits it is the box's text as it stands; beyond
// them the text shows its beginning and the whole prompt goes into a
// scrollable area, so that the box stays within the screen. A run of
// characters without a space cannot wrap and would widen the box instead.
constexpr qsizetype kMaxShownPromptLines = 12;
constexpr qsizetype kMaxShownPromptChars = 400;
constexpr qsizetype kMaxShownUnbrokenChars = 60;
// The text area's height in pixels, and the most of the screen's height it may take.
constexpr int kFullPromptHeight = 240;
constexpr int kFullPromptScreenFraction = 3;  // at most a third

// `prompt` whole when it is within the limits above; otherwise its
// beginning up to the first limit reached, followed by "…".
QString ShownPrompt(const QString& prompt) {
  const qsizetype limit = std::min(prompt.size(), kMaxShownPromptChars);
  qsizetype end = 0;
  qsizetype lines = 1;
  qsizetype unbroken = 0;
  for (; end < limit; ++end) {
    const QChar unit = prompt.at(end);
    if (unit == u'\n' && ++lines > kMaxShownPromptLines) break;
    const bool breaks = unit == u' ' || unit == u'\n' || unit == u'\r' || unit == u'\t';
    unbroken = breaks ? 0 : unbroken + 1;
    if (unbroken > kMaxShownUnbrokenChars) break;
  }
  if (end == prompt.size()) return prompt;
  // Never split a surrogate pair, nor leave half of a "\r\n" behind.
  if (end > 0 && (prompt.at(end - 1).isHighSurrogate() || prompt.at(end - 1) == u'\r')) --end;
  return prompt.first(end) + u'…';
}

// Adds the whole `prompt` to `box` in a read-only, selectable, scrollable
// text area below its button, as Qt places a message box's details.
void AddFullPrompt(QMessageBox& box, const QString& prompt, const QScreen& screen) {
  auto* full_prompt = new QPlainTextEdit(&box);
  full_prompt->setObjectName(QStringLiteral("fullPrompt"));
  full_prompt->setAccessibleName(QStringLiteral("Whole message"));
  full_prompt->setPlainText(prompt);
  full_prompt->setReadOnly(true);
  full_prompt->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  full_prompt->setFixedHeight(
      std::min(kFullPromptHeight, screen.availableGeometry().height() / kFullPromptScreenFraction));
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    grid->addWidget(full_prompt, grid->rowCount(), 0, 1, grid->columnCount());
  } else {
    box.layout()->addWidget(full_prompt);
  }
}

}  // namespace

Form1::Form1(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Form1"));
  resize(448, 341);

  input_edit_ = MakeTextBox(this, "txtBoolean", QStringLiteral("Boolean expression"), 17);
  operator_form_edit_ = MakeTextBox(this, "txtBool2", QStringLiteral("Operator form"), 103);
  sign_form_edit_ = MakeTextBox(this, "txtWOSS", QStringLiteral("Sign form"), 198);

  convert_button_ = new QPushButton(QStringLiteral("Convert"), this);
  convert_button_->setObjectName(QStringLiteral("cmdConvert"));
  convert_button_->setGeometry(177, 297, 102, 32);
  // Enter in a box must add a line, never press the button.
  convert_button_->setAutoDefault(false);
  convert_button_->setDefault(false);
  connect(convert_button_, &QPushButton::clicked, this, &Form1::Convert);

  // Input, sign form, Convert, operator form, then round to the input again.
  QWidget::setTabOrder(input_edit_, sign_form_edit_);
  QWidget::setTabOrder(sign_form_edit_, convert_button_);
  QWidget::setTabOrder(convert_button_, operator_form_edit_);
  input_edit_->setFocus();
}

void Form1::Convert() {
  boolconv::Text input = BoxText(*input_edit_).toStdU16String();
  boolconv::Text operator_form;
  boolconv::Text sign_form;
  {
    // Tokenizer warnings appear as modal boxes over this window; the
    // conversion goes on once the user has closed each one.
    boolconv::ScopedWarningHandler warnings(
        [this](const boolconv::Text& title, const boolconv::Text& prompt, int32_t /*style*/) {
          // The engine raises only kWarningStyle: warning icon, OK only.
          ShowWarningBox(QString::fromStdU16String(title), QString::fromStdU16String(prompt));
        });
    // An exception must not escape into Qt's event loop, and a failed
    // conversion must not touch the results already on screen.
    try {
      engine_.ConvertBoolean(std::move(input), operator_form, sign_form);
    } catch (const boolconv::Error& error) {
      ShowWarningBox(QString::fromUtf16(boolconv::kAppName),
                     QString::fromStdU16String(error.description()));
      return;
    } catch (const std::bad_alloc&) {
      ShowWarningBox(QString::fromUtf16(boolconv::kAppName),
                     QStringLiteral("There is not enough memory to convert this expression."));
      return;
    } catch (const std::exception& error) {
      ShowWarningBox(QString::fromUtf16(boolconv::kAppName),
                     QStringLiteral("The expression could not be converted: %1")
                         .arg(QString::fromUtf8(error.what())));
      return;
    }
  }
  operator_form_edit_->setPlainText(QString::fromStdU16String(operator_form));
  sign_form_edit_->setPlainText(QString::fromStdU16String(sign_form));
}

void Form1::ShowWarningBox(const QString& title, const QString& text) {
  const QString shown_text = ShownPrompt(text);
  QMessageBox box(QMessageBox::Warning, title, shown_text, QMessageBox::Ok, this);
  // The text can quote the user's input, which must never be read as HTML.
  box.setTextFormat(Qt::PlainText);
  // Not setDetailedText: it would add a second button, "Show Details...".
  if (shown_text.size() != text.size()) AddFullPrompt(box, text, *screen());
  box.exec();
}
