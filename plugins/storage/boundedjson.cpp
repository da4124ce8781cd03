#include "boundedjson.h"

#include <map>
#include <utility>
#include <vector>

namespace tolvane::plugin {

namespace {

using Members = Json::object_t::Container;

// Builds the value from the parser's events. The library's own parser is
// iterative, so depth costs no stack; the depth check keeps every later
// recursion over the value (dump, copy, compare) bounded as well.
class BoundedBuilder {
  public:
    BoundedBuilder(Json& root, const JsonBudget& budget) : root_(root), budget_(budget) {}

    bool null() { return place(Json(nullptr)); }
    bool boolean(bool v) { return place(Json(v)); }
    bool number_integer(Json::number_integer_t v) { return place(Json(v)); }
    bool number_unsigned(Json::number_unsigned_t v) { return place(Json(v)); }
    bool number_float(Json::number_float_t v, const std::string&) { return place(Json(v)); }
    bool string(std::string& v) { return place(Json(std::move(v))); }
    bool binary(Json::binary_t&) { return fail(JsonTextError::Kind::Malformed, "binary value"); }

    bool start_object(std::size_t) { return open(Json::object()); }
    bool start_array(std::size_t) { return open(Json::array()); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool key(std::string& name) {
        Frame& top = frames_.back();
        if (++top.members > budget_.maxMembers)
            return fail(JsonTextError::Kind::TooManyMembers,
                        "an object has more than " + std::to_string(budget_.maxMembers) +
                            " members");
        key_ = std::move(name);
        return true;
    }

    bool parse_error(std::size_t, const std::string& token, const nlohmann::detail::exception& e) {
        // 406: a number the library cannot hold (1e400, say); valid JSON
        // text, but a value outside every range the plug-in accepts.
        if (e.id == 406)
            error_ = JsonTextError(
                JsonTextError::Kind::NumberOutOfRange, "the number " + token + " is out of range",
                frames_.empty() || !frames_.back().value->is_object() ? "" : key_, token);
        else
            error_ = JsonTextError(JsonTextError::Kind::Malformed, "not valid JSON");
        return false;
    }

    const JsonTextError& error() const { return error_; }

  private:
    struct Frame {
        Json* value;
        size_t members = 0;
        std::map<std::string, size_t> index; // member name -> position, for objects
    };

    bool fail(JsonTextError::Kind kind, const std::string& what) {
        error_ = JsonTextError(kind, what);
        return false;
    }

    // Puts a finished or just opened value where the parser is; returns the
    // slot so that an opened container can be filled in place.
    Json* slot(Json&& v) {
        if (frames_.empty()) {
            root_ = std::move(v);
            return &root_;
        }
        Frame& top = frames_.back();
        if (top.value->is_array()) {
            auto& items = top.value->get_ref<Json::array_t&>();
            items.push_back(std::move(v));
            return &items.back();
        }
        auto& members = static_cast<Members&>(top.value->get_ref<Json::object_t&>());
        auto [it, added] = top.index.emplace(key_, members.size());
        if (!added) {
            members[it->second].second = std::move(v);
            return &members[it->second].second;
        }
        members.emplace_back(std::move(key_), std::move(v));
        return &members.back().second;
    }

    bool place(Json&& v) {
        slot(std::move(v));
        return true;
    }

    bool open(Json&& container) {
        if (frames_.size() >= budget_.maxDepth)
            return fail(JsonTextError::Kind::TooDeep, "the text nests deeper than " +
                                                          std::to_string(budget_.maxDepth) +
                                                          " levels");
        Json* value = slot(std::move(container));
        frames_.push_back(Frame{value, 0, {}});
        return true;
    }

    bool close() {
        frames_.pop_back();
        return true;
    }

    Json& root_;
    const JsonBudget& budget_;
    std::vector<Frame> frames_;
    std::string key_;
    JsonTextError error_{JsonTextError::Kind::Malformed, "not valid JSON"};
};

} // namespace

Json parseJson(const std::string& text, const JsonBudget& budget) {
    if (text.size() > budget.maxBytes)
        throw JsonTextError(JsonTextError::Kind::TooLarge, "the text is longer than " +
                                                               std::to_string(budget.maxBytes) +
                                                               " bytes");
    Json root;
    BoundedBuilder builder(root, budget);
    if (!Json::sax_parse(text, &builder))
        throw builder.error(); // `root` and all it holds are freed on the way out
    return root;
}

} // namespace tolvane::plugin
