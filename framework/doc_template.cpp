#include "framework/doc_template.h"

#include "framework/create_context.h"
#include "framework/document.h"
#include "framework/frame_wnd.h"
#include "framework/win_app.h"

namespace {

// The default frame style: a sizable overlapped window whose title the document may change.
constexpr DWORD kDefaultFrameStyle = WS_OVERLAPPEDWINDOW;

}  // namespace

CSingleDocTemplate::CSingleDocTemplate(UINT resourceId, DocumentFactory newDocument,
                                       FrameFactory newFrame, ViewFactory newView)
    : m_resourceId(resourceId), m_newDocument(newDocument), m_newFrame(newFrame), m_newView(newView)
{
}

CSingleDocTemplate::~CSingleDocTemplate()
{
    CloseDocument();
}

CDocument* CSingleDocTemplate::OpenDocumentFile(const char* path)
{
    if (m_document) {
        BOOL loaded = path ? m_document->OnOpenDocument(path) : m_document->OnNewDocument();
        return loaded ? m_document.get() : nullptr;
    }

    m_document.reset(m_newDocument());
    CCreateContext context;
    context.m_pCurrentDoc = m_document.get();
    context.m_pNewView = m_newView;
    context.m_pNewDocTemplate = this;
    CFrameWnd* frame = m_newFrame();
    // A frame that fails to load has deleted itself.
    if (!frame->LoadFrame(m_resourceId, kDefaultFrameStyle, &context)) {
        m_document.reset();
        return nullptr;
    }
    m_frame = frame;

    BOOL loaded = path ? m_document->OnOpenDocument(path) : m_document->OnNewDocument();
    if (!loaded) {
        CloseDocument();
        return nullptr;
    }
    CWinApp* app = AfxGetApp();
    if (app && !app->m_pMainWnd) app->m_pMainWnd = frame;
    frame->InitialUpdateFrame(TRUE);
    return m_document.get();
}

void CSingleDocTemplate::CloseDocument()
{
    if (m_frame) m_frame->DestroyWindow();
    m_document.reset();
}

void CSingleDocTemplate::OnFrameDestroyed(CFrameWnd* frame)
{
    if (m_frame == frame) m_frame = nullptr;
}
