// Observable values and change streams: `Published<T>` notifies on every assignment, before the value is
// stored, and `Stream<T>` carries the operators the models compose subscriptions with.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/Cancellable.h"
#include "base/MainLoop.h"

namespace velaro {

namespace detail {

// The subscriber list shared by a publisher and its subscriptions. Delivery walks a snapshot, so a handler
// may subscribe or cancel (itself or others) while a value is being delivered; a cancelled subscriber
// receives nothing more, even from the delivery in progress.
template <class T>
class Subject {
public:
    using Sink = std::function<void(const T&)>;

    std::uint64_t add(Sink sink) {
        const auto id = ++nextId_;
        entries_.push_back({id, std::make_shared<Sink>(std::move(sink))});
        return id;
    }
    void remove(std::uint64_t id) {
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->id == id) {
                entries_.erase(it);
                return;
            }
        }
    }
    void send(const T& value) {
        const auto snapshot = entries_;
        for (const auto& entry : snapshot) {
            if (contains(entry.id)) (*entry.sink)(value);
        }
    }
    bool empty() const { return entries_.empty(); }

private:
    struct Entry {
        std::uint64_t id;
        std::shared_ptr<Sink> sink;
    };
    bool contains(std::uint64_t id) const {
        for (const auto& e : entries_)
            if (e.id == id) return true;
        return false;
    }
    std::vector<Entry> entries_;
    std::uint64_t nextId_ = 0;
};

template <class T>
Subscription subscribeTo(const std::shared_ptr<Subject<T>>& subject, typename Subject<T>::Sink sink) {
    const auto id = subject->add(std::move(sink));
    return Subscription([weak = std::weak_ptr<Subject<T>>(subject), id] {
        if (auto s = weak.lock()) s->remove(id);
    });
}

}  // namespace detail

// A stream of values that can be subscribed to and transformed. Each `sink` call is an independent
// subscription with its own operator state; the returned handle ends it.
template <class T>
class Stream {
public:
    using Value = T;
    using Sink = std::function<void(const T&)>;
    using Attach = std::function<Subscription(Sink)>;

    explicit Stream(Attach attach) : attach_(std::move(attach)) {}

    [[nodiscard]] Subscription sink(Sink sink) const { return attach_(std::move(sink)); }

    // Skips the first `count` values (a published value's current one, typically).
    Stream dropFirst(int count = 1) const {
        return Stream([up = attach_, count](Sink down) {
            auto seen = std::make_shared<int>(0);
            return up([seen, count, down = std::move(down)](const T& v) {
                if ((*seen)++ >= count) down(v);
            });
        });
    }

    // Passes a value on only when it differs from the last value passed on.
    Stream removeDuplicates() const {
        return Stream([up = attach_](Sink down) {
            auto last = std::make_shared<std::optional<T>>();
            return up([last, down = std::move(down)](const T& v) {
                if (*last && **last == v) return;
                *last = v;
                down(v);
            });
        });
    }

    Stream filter(std::function<bool(const T&)> keep) const {
        return Stream([up = attach_, keep = std::move(keep)](Sink down) {
            return up([keep, down = std::move(down)](const T& v) {
                if (keep(v)) down(v);
            });
        });
    }

    template <class F>
    auto map(F transform) const -> Stream<std::decay_t<std::invoke_result_t<F, const T&>>> {
        using U = std::decay_t<std::invoke_result_t<F, const T&>>;
        return Stream<U>([up = attach_, transform = std::move(transform)](typename Stream<U>::Sink down) {
            return up([transform, down = std::move(down)](const T& v) { down(transform(v)); });
        });
    }

    // Delivers the latest value once `seconds` have passed without a newer one.
    Stream debounce(MainLoop& loop, double seconds) const {
        return Stream([up = attach_, loop = &loop, seconds](Sink down) {
            struct State {
                Cancellable pending;
            };
            auto state = std::make_shared<State>();
            auto upstream = up([state, loop, seconds, down](const T& v) {
                state->pending = loop->postAfter(seconds, [down, v] { down(v); });
            });
            return Subscription([state, upstream = std::make_shared<Subscription>(std::move(upstream))] {
                upstream->cancel();
                state->pending.cancel();
            });
        });
    }

    // Delivers each value on a later turn of the main loop; nothing arrives after the subscription ends.
    Stream receiveOn(MainLoop& loop) const {
        return Stream([up = attach_, loop = &loop](Sink down) {
            auto alive = std::make_shared<bool>(true);
            auto upstream = up([alive, loop, down](const T& v) {
                loop->post([alive, down, v] {
                    if (*alive) down(v);
                });
            });
            return Subscription([alive, upstream = std::make_shared<Subscription>(std::move(upstream))] {
                *alive = false;
                upstream->cancel();
            });
        });
    }

private:
    Attach attach_;
};

// A value with change notification. Every assignment notifies, changed or not, and subscribers see the
// new value before it is stored: reading the member from inside a handler gives the previous value.
template <class T>
class Published {
public:
    Published() : Published(T{}) {}
    explicit Published(T initial) : state_(std::make_shared<State>(std::move(initial))) {}
    Published(Published&&) noexcept = default;
    Published& operator=(Published&&) noexcept = default;
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    const T& value() const { return state_->value; }
    const T& operator()() const { return state_->value; }

    void set(T newValue) {
        auto keep = state_;  // a handler may destroy the owner; finish the assignment on the shared state
        keep->subject.send(newValue);
        keep->value = std::move(newValue);
    }
    Published& operator=(T newValue) {
        set(std::move(newValue));
        return *this;
    }

    // The current value on subscription, then every assigned value.
    Stream<T> stream() const {
        return Stream<T>([weak = std::weak_ptr<State>(state_)](typename Stream<T>::Sink sink) {
            auto s = weak.lock();
            if (!s) return Subscription();
            sink(s->value);
            return detail::subscribeTo(std::shared_ptr<detail::Subject<T>>(s, &s->subject), std::move(sink));
        });
    }
    // Every assigned value from now on, without the current one.
    Stream<T> changes() const { return stream().dropFirst(); }

private:
    struct State {
        explicit State(T v) : value(std::move(v)) {}
        T value;
        detail::Subject<T> subject;
    };
    std::shared_ptr<State> state_;
};

// A stream fed by hand: events that are not stored values (a notification, a tick).
template <class T>
class PassthroughSubject {
public:
    PassthroughSubject() : subject_(std::make_shared<detail::Subject<T>>()) {}
    void send(const T& v) {
        auto keep = subject_;
        keep->send(v);
    }
    Stream<T> stream() const {
        return Stream<T>([weak = std::weak_ptr<detail::Subject<T>>(subject_)](typename Stream<T>::Sink sink) {
            auto s = weak.lock();
            return s ? detail::subscribeTo(s, std::move(sink)) : Subscription();
        });
    }

private:
    std::shared_ptr<detail::Subject<T>> subject_;
};

// Values of several streams, as a tuple, once every stream has delivered; then on each delivery of any.
template <class... Ts>
Stream<std::tuple<Ts...>> combineLatest(Stream<Ts>... streams) {
    using Tuple = std::tuple<Ts...>;
    return Stream<Tuple>([... ups = std::move(streams)](typename Stream<Tuple>::Sink down) {
        struct State {
            std::tuple<std::optional<Ts>...> latest;
            std::vector<Subscription> upstream;
        };
        auto state = std::make_shared<State>();
        auto emitIfComplete = [weak = std::weak_ptr<State>(state), down] {
            auto s = weak.lock();
            if (!s) return;
            const bool complete =
                std::apply([](const auto&... o) { return (o.has_value() && ...); }, s->latest);
            if (complete) down(std::apply([](const auto&... o) { return Tuple(*o...); }, s->latest));
        };
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            (state->upstream.push_back(
                 std::get<I>(std::tie(ups...))
                     .sink([weak = std::weak_ptr<State>(state), emitIfComplete](const auto& v) {
                         if (auto s = weak.lock()) {
                             std::get<I>(s->latest) = v;
                             emitIfComplete();
                         }
                     })),
             ...);
        }
        (std::index_sequence_for<Ts...>{});
        return Subscription([state] { state->upstream.clear(); });
    });
}

// Every value of every stream, in the order they are delivered.
template <class T, class... More>
Stream<T> merge(Stream<T> first, More... more) {
    std::vector<Stream<T>> ups{std::move(first), std::move(more)...};
    return Stream<T>([ups = std::move(ups)](typename Stream<T>::Sink down) {
        auto subs = std::make_shared<std::vector<Subscription>>();
        for (const auto& up : ups) subs->push_back(up.sink(down));
        return Subscription([subs] { subs->clear(); });
    });
}

}  // namespace velaro
