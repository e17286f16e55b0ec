#pragma once
#include <windows.h>

#include <memory>

#include "framework/object.h"

class CDocument;
class CFrameWnd;
class CView;

// Joins one document class, one frame class and one view class under one resource identifier,
// with at most one document (and so one frame) at a time.
class CSingleDocTemplate : public CObject {
public:
    using DocumentFactory = CDocument* (*)();
    using FrameFactory = CFrameWnd* (*)();
    using ViewFactory = CView* (*)();

    CSingleDocTemplate(UINT resourceId, DocumentFactory newDocument, FrameFactory newFrame,
                       ViewFactory newView);
    ~CSingleDocTemplate() override;

    // Opens the file as the document, or a new document when path is null. The first call
    // creates the document, the frame and the view; later calls reuse them.
    CDocument* OpenDocumentFile(const char* path);
    // Destroys the frame, then the document.
    void CloseDocument();
    void OnFrameDestroyed(CFrameWnd* frame);

private:
    UINT m_resourceId;
    DocumentFactory m_newDocument;
    FrameFactory m_newFrame;
    ViewFactory m_newView;
    std::unique_ptr<CDocument> m_document;
    CFrameWnd* m_frame = nullptr;  // deletes itself with its window
};

template <class T, class Base>
Base* NewObject()
{
    return new T;
}

// The template for document class D, frame class F and view class V.
template <class D, class F, class V>
std::unique_ptr<CSingleDocTemplate> MakeSingleDocTemplate(UINT resourceId)
{
    return std::make_unique<CSingleDocTemplate>(resourceId, NewObject<D, CDocument>,
                                                NewObject<F, CFrameWnd>, NewObject<V, CView>);
}
