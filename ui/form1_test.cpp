// Drives Form1 with real key and mouse events on the offscreen platform.

#include "ui/form1.h"

#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <vector>

#include "conversion/boolfuncs.h"

namespace {

enum class Trigger { kClick, kSpace };

// What one modal box showed, and the operator form on screen while it was open.
struct SeenBox {
  QMessageBox::Icon icon;
  QMessageBox::StandardButtons buttons;
  Qt::TextFormat format;
  QString title, text, operator_form_meanwhile;
  QSize size;           // the whole box, frame included
  QRect screen_area;    // the available geometry of its screen
  QString scroll_text;  // the read-only text area of a long prompt, if any
  bool scroll_text_read_only = false;
};

constexpr qsizetype kLongInputChars = 100 * 1024;

// A search strategy of `size` characters pasted from a document, one term a
// line, whose last term lacks its closing quote.
QString LongStrategyWithUnclosedQuote(qsizetype size) {
  QString strategy;
  for (int term = 1; strategy.size() < size; ++term) {
    strategy +=
        QStringLiteral("\"heart failure %1\" or cardiomyopathy%1 or \"cardiac insufficiency\" or\n")
            .arg(term);
  }
  return strategy + QStringLiteral("\"ventricular dysfunction");
}

// The warning the engine raises for `input`, as it raises it.
QString EngineWarning(const QString& input) {
  QString prompt;
  boolconv::ScopedWarningHandler handler(
      [&](const boolconv::Text&, const boolconv::Text& text, int32_t) {
        prompt = QString::fromStdU16String(text);
      });
  boolconv::BoolFuncs engine;
  boolconv::Text operator_form, sign_form;
  engine.ConvertBoolean(input.toStdU16String(), operator_form, sign_form);
  return prompt;
}

}  // namespace

Q_DECLARE_METATYPE(Trigger)

class Form1Test : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    form_ = std::make_unique<Form1>();
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    form_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
  }
  void cleanup() { form_.reset(); }

  void ControlsStayInPlace_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("input") << "txtBoolean" << QRect(15, 17, 417, 84);
    QTest::newRow("operator form") << "txtBool2" << QRect(15, 103, 417, 84);
    QTest::newRow("sign form") << "txtWOSS" << QRect(15, 198, 417, 84);
    QTest::newRow("button") << "cmdConvert" << QRect(177, 297, 102, 32);
  }
  void ControlsStayInPlace() {
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QCOMPARE(form_->windowTitle(), QStringLiteral("Form1"));
    QCOMPARE(form_->size(), QSize(448, 341));
    auto* control = form_->findChild<QWidget*>(name);
    QVERIFY(control != nullptr);
    QCOMPARE(control->geometry(), geometry);
    form_->resize(900, 700);
    QTRY_COMPARE(form_->size(), QSize(900, 700));
    QCOMPARE(control->geometry(), geometry);
  }

  void TabCycle() {
    QCOMPARE(FocusName(), QStringLiteral("txtBoolean"));
    for (const char* next : {"txtWOSS", "cmdConvert", "txtBool2", "txtBoolean"}) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(FocusName(), QString::fromLatin1(next));
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(FocusName(), QStringLiteral("txtBool2"));
  }

  void Converts_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<Trigger>("trigger");
    QTest::addColumn<QString>("operator_form");
    QTest::addColumn<QString>("sign_form");
    QTest::addColumn<QString>("warning");  // the text of the one box expected, if any
    const QString op = QStringLiteral("(a AND b or c)"), sign = QStringLiteral("(+a +b c)");
    QTest::newRow("click") << "a b or c" << Trigger::kClick << op << sign << QString();
    QTest::newRow("space") << "a b or c" << Trigger::kSpace << op << sign << QString();
    // The input reaches the engine as typed: a non-breaking space joins words.
    QTest::newRow("no-break space") << "a\u00A0b or c" << Trigger::kClick << "(a\u00A0b or c)"
                                    << "(a\u00A0b c)" << QString();
    QTest::newRow("empty") << QString() << Trigger::kSpace << QString() << QString() << QString();
    // A ")" that closes no group fails the whole conversion: earlier results stay.
    QTest::newRow("unmatched )") << "a)) or ((b" << Trigger::kClick << "earlier result"
                                 << "earlier result"
                                 << QString::fromUtf16(boolconv::kUnmatchedCloseDescription);
    // An unpaired quote is only a warning: the group is left as typed.
    QTest::newRow("unpaired quote")
        << "a \"b c" << Trigger::kClick << " a \"b c "
        << " a \"b c "
        << "(GetTokens) Error: Invalid procedure call or argument\r\nLine:  a \"b c ";
  }
  void Converts() {
    QFETCH(QString, input);
    QFETCH(Trigger, trigger);
    QFETCH(QString, operator_form);
    QFETCH(QString, sign_form);
    QFETCH(QString, warning);
    QTest::keyClicks(Box("txtBoolean"), input);
    for (const char* name : {"txtBool2", "txtWOSS"}) Box(name)->setPlainText("earlier result");
    const std::vector<SeenBox> seen = Convert(trigger);
    QCOMPARE(seen.size(), size_t{warning.isEmpty() ? 0u : 1u});
    for (const SeenBox& box : seen) {
      QCOMPARE(box.icon, QMessageBox::Warning);
      QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
      QCOMPARE(box.title, QStringLiteral("boolconv"));
      QCOMPARE(box.text, warning);
      QCOMPARE(box.format, Qt::PlainText);  // the text quotes the input: no markup
      // The conversion waits for the box: nothing is written while it is open.
      QCOMPARE(box.operator_form_meanwhile, QStringLiteral("earlier result"));
    }
    QCOMPARE(Text("txtBool2"), operator_form);
    QCOMPARE(Text("txtWOSS"), sign_form);
    QCOMPARE(Text("txtBoolean"), input);
  }

  // A warning that quotes a long input keeps the box within the screen: its
  // text shows the prompt's beginning, and the whole prompt can be read in a
  // text area inside the box.
  void LongWarningFitsScreen_data() {
    QTest::addColumn<QString>("input");
    QTest::newRow("100 KB strategy, one term a line")
        << LongStrategyWithUnclosedQuote(kLongInputChars);
    // Text without a space cannot wrap; it must not widen the box.
    QTest::newRow("10 KB without a space") << "\"" + QString(kLongInputChars / 10, u'x');
  }
  void LongWarningFitsScreen() {
    QFETCH(QString, input);
    const QString prompt = EngineWarning(input);
    QVERIFY(prompt.size() > input.size());
    Box("txtBoolean")->setPlainText(input);
    const std::vector<SeenBox> seen = Convert(Trigger::kClick);
    QCOMPARE(seen.size(), size_t{1});
    const SeenBox& box = seen.front();
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.title, QStringLiteral("boolconv"));
    QCOMPARE(box.format, Qt::PlainText);
    QVERIFY2(box.size.width() <= box.screen_area.width() &&
                 box.size.height() <= box.screen_area.height(),
             qPrintable(QStringLiteral("box %1 x %2, screen %3 x %4")
                            .arg(box.size.width())
                            .arg(box.size.height())
                            .arg(box.screen_area.width())
                            .arg(box.screen_area.height())));
    QVERIFY(box.text.startsWith(
        QStringLiteral("(GetTokens) Error: Invalid procedure call or argument\r\nLine:  \"")));
    QVERIFY(box.text.endsWith(u'…'));
    QVERIFY(prompt.startsWith(box.text.chopped(1)));
    // The text area holds every character; "\r\n" reads as one line break.
    QVERIFY(box.scroll_text_read_only);
    QCOMPARE(box.scroll_text,
             QString(prompt).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  }

  // Results change only on Convert: Return and editing leave them alone, and
  // converting again replaces them.
  void ResultsFollowConvertOnly() {
    QTest::keyClicks(Box("txtBoolean"), "a b or c");
    QTest::keyClick(Box("txtBoolean"), Qt::Key_Return);
    QCOMPARE(Text("txtBoolean"), QStringLiteral("a b or c\n"));
    QCOMPARE(Text("txtBool2") + Text("txtWOSS"), QString());
    QTest::keyClick(Box("txtBoolean"), Qt::Key_Backspace);
    QVERIFY(Convert(Trigger::kClick).empty());
    QVERIFY(Convert(Trigger::kSpace).empty());
    QTest::keyClicks(Box("txtBoolean"), " d");
    QCOMPARE(Text("txtBool2"), QStringLiteral("(a AND b or c)"));
    QCOMPARE(Text("txtWOSS"), QStringLiteral("(+a +b c)"));
  }

 private:
  QPlainTextEdit* Box(const char* name) const {
    return form_->findChild<QPlainTextEdit*>(QString::fromLatin1(name));
  }
  QString FocusName() const {
    QWidget* focus = QApplication::focusWidget();
    return focus == nullptr ? QStringLiteral("(none)") : focus->objectName();
  }
  // The box's text with only its line breaks normalized; unlike
  // toPlainText() it keeps non-breaking spaces.
  QString Text(const char* name) const { return RawText(*Box(name)); }
  static QString RawText(const QPlainTextEdit& box) {
    return box.document()->toRawText().replace(QChar::ParagraphSeparator, u'\n');
  }
  // Converts, recording each modal box that opens and closing it with a
  // mouse click on OK; the box's own event loop keeps the timer running.
  std::vector<SeenBox> Convert(Trigger trigger) {
    std::vector<SeenBox> seen;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      const auto* scroll_text = box->findChild<QPlainTextEdit*>();
      seen.push_back({box->icon(), box->standardButtons(), box->textFormat(), box->windowTitle(),
                      box->text(), Text("txtBool2"), box->frameGeometry().size(),
                      box->screen()->availableGeometry(),
                      scroll_text == nullptr ? QString() : RawText(*scroll_text),
                      scroll_text != nullptr && scroll_text->isReadOnly()});
      QAbstractButton* ok = box->button(QMessageBox::Ok);
      if (ok == nullptr) return box->done(0);
      QTest::mouseClick(ok, Qt::LeftButton);
    });
    timer.start(10);
    auto* button = form_->findChild<QPushButton*>(QStringLiteral("cmdConvert"));
    if (trigger == Trigger::kClick) {
      QTest::mouseClick(button, Qt::LeftButton);
    } else {
      button->setFocus();
      QTest::keyClick(button, Qt::Key_Space);
    }
    return seen;
  }

  std::unique_ptr<Form1> form_;
};

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
