#pragma once
// "接続先...": the host (a drop-down of the hosts connected to before, and editable), the
// port and the session's encoding. OK is offered once a host is given.
#include <QDialog>

#include <vector>

#include "HostHistory.h"
#include "TextCodec.h"

class QComboBox;
class QDialogButtonBox;
class QSpinBox;

struct ConnectChoice {
    HostPort target;
    Encoding encoding = Encoding::Cp932;
};

class ConnectDialog : public QDialog {
public:
    // history newest first; current fills the fields (its host may be empty).
    ConnectDialog(const std::vector<HostPort>& history, const ConnectChoice& current, QWidget* parent = nullptr);
    // The fields as they stand. A host typed as "host:port" gives both.
    ConnectChoice choice() const;

    QComboBox* hostField() const { return host_; }
    QSpinBox* portField() const { return port_; }
    QComboBox* encodingField() const { return encoding_; }
    QDialogButtonBox* buttons() const { return buttons_; }

private:
    void followHost();

    std::vector<HostPort> history_;
    QComboBox* host_;
    QSpinBox* port_;
    QComboBox* encoding_;
    QDialogButtonBox* buttons_;
};
