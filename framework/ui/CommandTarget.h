// Command routing: a command goes to the active view, then the document,
// then the frame, then the application; the first that handles it runs it
// and decides whether it is enabled. A command nobody on the route handles
// is disabled.
#pragma once

#include <functional>
#include <optional>
#include <unordered_map>

namespace quorrel {

class CommandTarget {
public:
    virtual ~CommandTarget() = default;

    bool Handles(int id) const { return m_handlers.contains(id); }
    bool IsEnabled(int id) const {
        auto it = m_handlers.find(id);
        return it != m_handlers.end() && (!it->second.enabled || it->second.enabled());
    }
    std::optional<bool> IsChecked(int id) const {
        auto it = m_handlers.find(id);
        if (it == m_handlers.end() || !it->second.checked) {
            return std::nullopt;
        }
        return it->second.checked();
    }
    void Run(int id) const {
        auto it = m_handlers.find(id);
        if (it != m_handlers.end()) {
            it->second.run();
        }
    }

protected:
    void On(int id, std::function<void()> run, std::function<bool()> enabled = {},
            std::function<bool()> checked = {}) {
        m_handlers[id] = Handler{std::move(run), std::move(enabled), std::move(checked)};
    }

private:
    struct Handler {
        std::function<void()> run;
        std::function<bool()> enabled;  // empty: always enabled
        std::function<bool()> checked;  // empty: no check mark
    };
    std::unordered_map<int, Handler> m_handlers;
};

}  // namespace quorrel
