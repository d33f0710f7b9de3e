#pragma once

#include <QString>
#include <QUrl>
#include <QWebEnginePage>

class QWebEngineView;

namespace platform {

// Whether a web pane may go to url: http and https pages, about:blank, and the one local page
// the pane was given (localPage, a file path; any fragment). Everything else is refused.
bool isAllowedWebNavigation(const QUrl& url, const QString& localPage);
// Whether a pane's page may load url as a part of it (image, style sheet, script, frame,
// request, WebSocket): the network schemes, the page's own data and blob parts, and the local
// page itself; never any other local file.
bool isAllowedWebResource(const QUrl& url, const QString& localPage);

// The page of a web pane that shows pages from the network (the summary panel, the detail
// pane). Fetched pages are web content: they show their remote images and style sheets, but
// run no scripts, never read local files, open windows, leave http/https, ask for permissions,
// show dialogs or start other programs for unknown schemes.
class GuiWebPage : public QWebEnginePage {
    Q_OBJECT
public:
    explicit GuiWebPage(const QString& localPage, QObject* parent = nullptr);
    ~GuiWebPage() override;
    // Whether the pane may go to url (isAllowedWebNavigation with its own local page).
    bool allows(const QUrl& url) const { return isAllowedWebNavigation(url, m_localPage); }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                            const QStringList& acceptedMimeTypes) override;
    void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg,
                          const QString& defaultValue, QString* result) override;

private:
    class Interceptor;
    QString m_localPage;
    Interceptor* m_interceptor;
};

// Gives a view a GuiWebPage. localPage: the one local file the view may show (the saved detail
// page), or empty for none.
void isolateWebView(QWebEngineView* view, const QString& localPage = QString());

} // namespace platform
