#pragma once
// The serial port selection window: the system's ports in a drop-down list whose pick is
// written straight into the linked port. exec() gives Accepted (Ok) or Rejected (Cancel).
#include <QDialog>

class QLabel;
class QPushButton;
class TComComboBox;
class TCustomComPort;

class TfrmUsrSerial : public QDialog {
    Q_OBJECT
public:
    // Reads the port list; raises EComPort 23 when the system's list cannot be read.
    explicit TfrmUsrSerial(QWidget* parent = nullptr);

    // Links the list to port: its current name becomes the selection (none when unlisted).
    void SetComPort(TCustomComPort* port);

    QLabel* lblSerial;
    TComComboBox* ComComboBoxPort;
    QPushButton* btnOk;
    QPushButton* btnCancel;

protected:
    // Each showing reads the port list again, so adapters plugged in since appear.
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
};
