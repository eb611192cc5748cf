#include "ConnectDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "CommandLine.h"
#include "cp932.h"
#include "qtext.h"

namespace {

QString ui(const char* utf8) { return toQ(cp932::sj(utf8)); }

} // namespace

ConnectDialog::ConnectDialog(const std::vector<HostPort>& history, const ConnectChoice& current, QWidget* parent)
    : QDialog(parent), history_(history) {
    setWindowTitle(ui("接続先"));
    host_ = new QComboBox(this);
    host_->setObjectName("host");
    host_->setEditable(true);
    host_->setInsertPolicy(QComboBox::NoInsert);
    host_->setMinimumContentsLength(24);
    for (const HostPort& h : history_)
        host_->addItem(toQ(hostPortText(h)));
    host_->setEditText(toQ(current.target.host));
    port_ = new QSpinBox(this);
    port_->setObjectName("port");
    port_->setRange(1, 65535);
    port_->setValue(current.target.port);
    encoding_ = new QComboBox(this);
    encoding_->setObjectName("encoding");
    for (const EncodingInfo& e : encodings()) {
        encoding_->addItem(QString::fromLatin1(e.label), static_cast<int>(e.enc));
        if (e.enc == current.encoding)
            encoding_->setCurrentIndex(encoding_->count() - 1);
    }
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons_->button(QDialogButtonBox::Ok)->setText(ui("接続"));
    buttons_->button(QDialogButtonBox::Cancel)->setText(ui("キャンセル"));

    auto* form = new QFormLayout(this);
    form->addRow(ui("ホスト(&H):"), host_);
    form->addRow(ui("ポート(&P):"), port_);
    form->addRow(ui("文字コード(&E):"), encoding_);
    form->addRow(buttons_);

    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Picking a host of the list puts its port in the port field; the host field keeps the host.
    connect(host_, &QComboBox::activated, this, [this](int index) {
        if (index < 0 || index >= int(history_.size()))
            return;
        host_->setEditText(toQ(history_[std::size_t(index)].host));
        port_->setValue(history_[std::size_t(index)].port);
    });
    connect(host_, &QComboBox::editTextChanged, this, [this] { followHost(); });
    followHost();
}

void ConnectDialog::followHost() {
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(!host_->currentText().trimmed().isEmpty());
}

ConnectChoice ConnectDialog::choice() const {
    ConnectChoice c;
    const std::string typed = fromQ(host_->currentText().trimmed());
    if (!parseHostPort(typed, c.target))
        c.target = {typed, port_->value()};
    c.encoding = static_cast<Encoding>(encoding_->currentData().toInt());
    return c;
}
