#include "config/MailSettingsBox.h"

#include "config/Named.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QUrl>

namespace {
// local@domain with no blanks and no commas: enough to catch a slip, the relay judges the rest.
bool isAddress(const QString& text)
{
    static const QRegularExpression address(QStringLiteral("^[^\\s,@]+@[^\\s,@]+$"));
    return address.match(text).hasMatch();
}

bool isSmtps(const QString& url)
{
    return url.trimmed().startsWith(QLatin1String("smtps://"), Qt::CaseInsensitive);
}

QString relayProblem(const QString& url)
{
    if (!url.startsWith(QLatin1String("smtp://"), Qt::CaseInsensitive) && !isSmtps(url))
        return MailSettingsBox::tr("Сервер почты должен начинаться с smtp:// или smtps://.");
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.host().isEmpty())
        return MailSettingsBox::tr("В адресе сервера почты «%1» нет имени узла.").arg(url);
    return QString();
}

QString recipientsProblem(const QString& to)
{
    QStringList addresses;
    for (const QString& part : to.split(QLatin1Char(',')))
        if (!part.trimmed().isEmpty())
            addresses << part.trimmed();
    if (addresses.isEmpty())
        return MailSettingsBox::tr("Для писем укажите хотя бы один адрес «Кому».");
    for (const QString& address : addresses)
        if (!isAddress(address))
            return MailSettingsBox::tr("Адрес «Кому» «%1» не похож на адрес почты (имя@домен).").arg(address);
    return QString();
}
} // namespace

MailSettingsBox::MailSettingsBox(QWidget* parent)
    : QGroupBox(tr("Почта тревог (SMTP)"), parent),
      enabled(named(new QCheckBox(tr("Отправлять письма"), this), "checkBox_mailEnabled")),
      url(named(new QLineEdit(this), "lineEdit_mailUrl")),
      starttls(named(new QCheckBox(tr("STARTTLS обязателен"), this), "checkBox_mailStarttls")),
      tlsCa(named(new QLineEdit(this), "lineEdit_mailTlsCa")),
      tlsCaButton(named(new QPushButton(QStringLiteral("…"), this), "pushButton_mailTlsCaChoose")),
      user(named(new QLineEdit(this), "lineEdit_mailUser")),
      password(named(new QLineEdit(this), "lineEdit_mailPassword")),
      from(named(new QLineEdit(this), "lineEdit_mailFrom")),
      to(named(new QLineEdit(this), "lineEdit_mailTo")),
      groupSeconds(named(new QSpinBox(this), "spinBox_mailGroupSeconds")),
      onConfirm(named(new QCheckBox(tr("Писать о подтверждениях"), this), "checkBox_mailOnConfirm")),
      testButton(named(new QPushButton(tr("Отправить тестовое письмо"), this), "pushButton_mailTest")),
      testOutcome(named(new QLabel(this), "label_mailTest"))
{
    setObjectName(QStringLiteral("groupBox_mail"));
    url->setPlaceholderText(tr("smtp://relay.example.org:587 или smtps://…:465"));
    password->setEchoMode(QLineEdit::Password);
    to->setPlaceholderText(tr("адреса через запятую"));
    groupSeconds->setRange(0, Settings::maxMailGroupSeconds);
    groupSeconds->setValue(Settings::defaultMailGroupSeconds);
    tlsCaButton->setFixedWidth(28);
    testOutcome->setWordWrap(true);

    // The same two columns as the sections above.
    auto* grid = new QGridLayout(this);
    auto addField = [this, grid](int row, int column, const QString& text, QWidget* field) {
        auto* label = new QLabel(text, this);
        label->setBuddy(field);
        grid->addWidget(label, row, column);
        grid->addWidget(field, row, column + 1);
    };
    auto* caCell = new QWidget(this);
    auto* caRow = new QHBoxLayout(caCell);
    caRow->setContentsMargins(0, 0, 0, 0);
    caRow->addWidget(tlsCa, 1);
    caRow->addWidget(tlsCaButton);
    grid->addWidget(enabled, 0, 0, 1, 2);
    addField(0, 2, tr("Собирать события, с"), groupSeconds);
    addField(1, 0, tr("Сервер"), url);
    grid->addWidget(starttls, 1, 2, 1, 2);
    addField(2, 0, tr("Пользователь"), user);
    addField(2, 2, tr("Пароль"), password);
    addField(3, 0, tr("От кого"), from);
    addField(3, 2, tr("Кому"), to);
    addField(4, 0, tr("Файл сертификата ЦС"), caCell);
    grid->addWidget(onConfirm, 4, 2, 1, 2);
    grid->addWidget(testButton, 5, 0, 1, 2);
    grid->addWidget(testOutcome, 5, 2, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    connect(enabled, &QCheckBox::toggled, this, &MailSettingsBox::updateEnabled);
    connect(url, &QLineEdit::textChanged, this, &MailSettingsBox::updateEnabled);
    connect(tlsCaButton, &QPushButton::clicked, this, &MailSettingsBox::chooseCaFile);
    connect(testButton, &QPushButton::clicked, this, &MailSettingsBox::testRequested);
    updateEnabled();
}

void MailSettingsBox::fill(const Settings& settings)
{
    const Settings::Mail& mail = settings.mail();
    enabled->setChecked(mail.enabled);
    url->setText(mail.url);
    starttls->setChecked(mail.starttls);
    tlsCa->setText(mail.tlsCa);
    user->setText(mail.user);
    password->setText(mail.password);
    from->setText(mail.from);
    to->setText(mail.to);
    groupSeconds->setValue(mail.groupSeconds);
    onConfirm->setChecked(mail.onConfirm);
}

QString MailSettingsBox::problem() const
{
    const Settings::Mail mail = fields();
    QString why = relayProblem(mail.url);
    if (why.isEmpty() && !isAddress(mail.from))
        why = tr("Адрес «От кого» «%1» не похож на адрес почты (имя@домен).").arg(mail.from);
    if (why.isEmpty())
        why = recipientsProblem(mail.to);
    const QFileInfo ca(mail.tlsCa);
    if (why.isEmpty() && !mail.tlsCa.isEmpty() && !(ca.isFile() && ca.isReadable()))
        why = tr("Файл сертификата ЦС не найден или не читается: %1").arg(mail.tlsCa);
    if (why.isEmpty() && !mail.password.isEmpty() && mail.user.isEmpty())
        why = tr("Пароль почты задан без имени пользователя.");
    return why;
}

Settings::Mail MailSettingsBox::fields() const
{
    Settings::Mail mail;
    mail.enabled = enabled->isChecked();
    mail.url = url->text().trimmed();
    mail.starttls = starttls->isChecked();
    mail.tlsCa = tlsCa->text();
    mail.user = user->text();
    mail.password = password->text();
    mail.from = from->text().trimmed();
    mail.to = to->text().trimmed();
    mail.groupSeconds = groupSeconds->value();
    mail.onConfirm = onConfirm->isChecked();
    return mail;
}

bool MailSettingsBox::read(Settings* into, QString* whyNot) const
{
    // Switched off, the fields are kept as they are and judged when mail is on.
    const QString why = enabled->isChecked() ? problem() : QString();
    if (!why.isEmpty()) {
        *whyNot = why;
        return false;
    }
    into->setMail(fields());
    return true;
}

bool MailSettingsBox::readForTest(Settings::Mail* mail, QString* whyNot) const
{
    *whyNot = problem();
    if (!whyNot->isEmpty())
        return false;
    *mail = fields();
    return true;
}

void MailSettingsBox::showTestOutcome(const QString& text)
{
    testOutcome->setText(text);
}

void MailSettingsBox::chooseCaFile()
{
    const QString file = QFileDialog::getOpenFileName(this, tr("Файл сертификата ЦС"), tlsCa->text(),
                                                      tr("Сертификаты (*.pem *.crt);;Все файлы (*)"));
    if (!file.isEmpty())
        tlsCa->setText(file);
}

// smtps:// is TLS from the first byte: STARTTLS means something for smtp:// only.
void MailSettingsBox::updateEnabled()
{
    for (QWidget* field : std::initializer_list<QWidget*>{url, tlsCa, tlsCaButton, user, password, from, to,
                                                          groupSeconds, onConfirm, testButton})
        field->setEnabled(enabled->isChecked());
    starttls->setEnabled(enabled->isChecked() && !isSmtps(url->text()));
}
