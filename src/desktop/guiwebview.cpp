#include "guiwebview.h"

#include <QFileInfo>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

namespace platform {

namespace {

bool isNetworkPage(const QUrl& url) {
    const QString scheme = url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

bool isLocalPage(const QUrl& url, const QString& localPage) {
    if (localPage.isEmpty() || !url.isLocalFile() || !url.host().isEmpty() || url.hasQuery())
        return false;
    return QFileInfo(url.toLocalFile()).absoluteFilePath() ==
           QFileInfo(localPage).absoluteFilePath();
}

} // namespace

bool isAllowedWebNavigation(const QUrl& url, const QString& localPage) {
    if (!url.isValid())
        return false;
    if (isNetworkPage(url))
        return !url.host().isEmpty();
    if (url.scheme() == QLatin1String("about"))
        return url.path() == QLatin1String("blank");
    return isLocalPage(url, localPage);
}

bool isAllowedWebResource(const QUrl& url, const QString& localPage) {
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("ws") || scheme == QLatin1String("wss") ||
        scheme == QLatin1String("data") || scheme == QLatin1String("blob"))
        return true;
    return isAllowedWebNavigation(url, localPage);
}

// Every request a page makes passes here, whatever started it (markup, script, frame), so no
// local file but the pane's own page is ever opened.
class GuiWebPage::Interceptor : public QWebEngineUrlRequestInterceptor {
public:
    Interceptor(const QString& localPage, QObject* parent)
        : QWebEngineUrlRequestInterceptor(parent)
        , m_localPage(localPage) {}

    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        if (!isAllowedWebResource(info.requestUrl(), m_localPage))
            info.block(true);
    }

private:
    QString m_localPage;
};

GuiWebPage::GuiWebPage(const QString& localPage, QObject* parent)
    : QWebEnginePage(parent)
    , m_localPage(localPage)
    , m_interceptor(new Interceptor(localPage, this)) {
    setUrlRequestInterceptor(m_interceptor);

    QWebEngineSettings* s = settings();
    // The portal's summary and detail pages are plain markup, and a scroll to their #ZELK anchor
    // is no script; a fetched page's scripts could only spin a core or open connections.
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    // The saved detail page is a local file: it may show the portal's images and style sheets
    // as the portal's own page would (cross-origin reads stay refused), but read no other file.
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanPaste, false);
    s->setAttribute(QWebEngineSettings::AllowWindowActivationFromJavaScript, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    s->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
    s->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
    s->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, false);
    s->setAttribute(QWebEngineSettings::AllowGeolocationOnInsecureOrigins, false);
    s->setAttribute(QWebEngineSettings::WebRTCPublicInterfacesOnly, true);
    s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    s->setAttribute(QWebEngineSettings::HyperlinkAuditingEnabled, false);
    // Unknown schemes (mailto:, custom ones) would otherwise start another program.
    s->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);

    // Nothing is ever granted, and the user is never asked.
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl& origin, QWebEnginePage::Feature feature) {
                setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
            });
    connect(this, &QWebEnginePage::fullScreenRequested, this,
            [](QWebEngineFullScreenRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
            [](QWebEngineRegisterProtocolHandlerRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::fileSystemAccessRequested, this,
            [](QWebEngineFileSystemAccessRequest request) { request.reject(); });
}

GuiWebPage::~GuiWebPage() = default;

bool GuiWebPage::acceptNavigationRequest(const QUrl& url, NavigationType, bool) {
    return isAllowedWebNavigation(url, m_localPage);
}

QWebEnginePage* GuiWebPage::createWindow(WebWindowType) {
    return nullptr;
}

QStringList GuiWebPage::chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) {
    return {};
}

void GuiWebPage::javaScriptAlert(const QUrl&, const QString&) {}

bool GuiWebPage::javaScriptConfirm(const QUrl&, const QString&) {
    return false;
}

bool GuiWebPage::javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) {
    return false;
}

void isolateWebView(QWebEngineView* view, const QString& localPage) {
    view->setPage(new GuiWebPage(localPage, view));
}

} // namespace platform
