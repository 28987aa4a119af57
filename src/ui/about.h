#pragma once
// The About window: description, version line and legal notice from the program's own
// version information, the stored image's title and the maker's web address.
#include <QDialog>
#include <QUrl>
#include <functional>
#include <string>

class QFrame;
class QLabel;
class QPushButton;

inline constexpr const char* MakerWebAddress = "www.moravent.example";

// Opens a web address; replaceable so tests see the request instead of a browser.
extern std::function<void(const QUrl&)> OpenUrlHook;

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* parent = nullptr);

    void SetImageText(const std::string& text);

    QPushButton* btnOk;
    QLabel* ImageMV;
    QLabel* lblBriskoWeb;
    QFrame* Bevel1;
    QLabel* lblVersion;
    QLabel* lblProgram;
    QLabel* lblBinaryImage;
    QLabel* lblCopyright;

    void btnOkClick();
    void lblBriskoWebClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
};
