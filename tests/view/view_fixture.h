#pragma once
// A shown preview view of a given client size, with the seams pointed at recorders.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTest>

#include <memory>
#include <vector>

#include "facetta_doc.h"
#include "facetta_view.h"

struct ShownMessage {
    QMessageBox::Icon icon;
    QString caption;
    QString text;
};

class ViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        CFacettaView::s_fnMessageBox = [this](QWidget*, QMessageBox::Icon icon,
                                              const QString& caption, const QString& text) {
            messages.push_back({icon, caption, text});
        };
        CFacettaView::s_fnSaveDialog = [this](QWidget*, const QString& initial,
                                              const QString& suffix, const QStringList&) {
            offeredPaths.push_back(initial);
            offeredSuffixes.push_back(suffix);
            return nextChoice;
        };
        CFacettaView::s_fnExecDialog = [](QDialog&) { return int(QDialog::Rejected); };
    }
    void TearDown() override {
        views.clear();
        CFacettaView::s_fnMessageBox = nullptr;
        CFacettaView::s_fnSaveDialog = nullptr;
        CFacettaView::s_fnExecDialog = nullptr;
    }

    // A view whose client area (no frame) is `width` x `height` while it has no scroll bars.
    CFacettaView* MakeView(int width = 800, int height = 600, const QString& title = QString()) {
        auto doc = std::make_unique<CFacettaDoc>();
        doc->SetTitle(title);
        auto view = std::make_unique<CFacettaView>(doc.get());
        view->resize(width, height);
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        CFacettaView* p = view.get();
        docs.push_back(std::move(doc));
        views.push_back(std::move(view));
        return p;
    }

    // Settings of `view` with a change applied through ApplySettings, as the pane does, and
    // the picture rendered off the interface thread (for large ones) taken over.
    template <typename F>
    static void Apply(CFacettaView* view, F change) {
        ImageSettings s = view->m_settings;
        change(s);
        view->ApplySettings(&s);
        view->FinishRender();
    }

    static void FinishFade(CFacettaView* view) {
        while (view->m_nFadeAlpha < 255) view->OnTimer(CFacettaView::kFadeTimer);
    }

    std::vector<ShownMessage> messages;
    std::vector<QString> offeredPaths;
    std::vector<QString> offeredSuffixes;
    QString nextChoice;
    std::vector<std::unique_ptr<CFacettaDoc>> docs;
    std::vector<std::unique_ptr<CFacettaView>> views;  // declared last: views go first
};
