#include "command_input.h"

#include "message_box.h"
#include "text.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace dlscope {

CommandInput::CommandInput(const CommandTextRule &rule, const QString &caption, const QString &defaultText,
                           QWidget *parent)
    : QGroupBox(caption, parent), rule_(rule), text_(new QLineEdit(this)), info_(new QPushButton(tr("Info"), this)),
      counter_(new QLabel(this))
{
    setObjectName(QStringLiteral("Frame1"));
    text_->setObjectName(QStringLiteral("Text1"));
    info_->setObjectName(QStringLiteral("Command1"));
    counter_->setObjectName(QStringLiteral("Label1"));

    text_->setMaxLength(rule.maxLength);
    text_->setText(defaultText);
    // Binary digits line up and are easy to count in a fixed-pitch font; the
    // box is wide enough for the longest command the window takes.
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    text_->setFont(mono);
    const QFontMetrics metrics(mono);
    text_->setMinimumWidth(metrics.horizontalAdvance(QString(rule.maxLength + 2, QLatin1Char('0'))) + 12);

    counter_->setNum(static_cast<int>(defaultText.size()));
    counter_->setMinimumWidth(QFontMetrics(counter_->font()).horizontalAdvance(QStringLiteral("000")));
    counter_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    counter_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (rule.liveCounter)
        connect(text_, &QLineEdit::textChanged, counter_, [this](const QString &t) {
            counter_->setNum(static_cast<int>(t.size()));
        });

    info_->setDefault(false);
    info_->setAutoDefault(false);
    connect(text_, &QLineEdit::returnPressed, info_, &QPushButton::click);
    connect(info_, &QPushButton::clicked, this, &CommandInput::infoPressed);

    auto *row = new QHBoxLayout(this);
    row->addWidget(text_, 1);
    row->addWidget(counter_);
    row->addWidget(info_);
}

std::optional<std::string> CommandInput::prepare()
{
    PreparedCommand prepared = PrepareCommandWord(toCommandText(text_->text()), rule_);
    for (const InputEffect &effect : prepared.effects) {
        if (const auto *message = std::get_if<ShowMessage>(&effect))
            showNotice(window(), toQString(message->text));
        else
            text_->setText(toQString(std::get<SetCommandText>(effect).text));
    }
    return std::move(prepared.word);
}

} // namespace dlscope
