#include "pe_writer.hpp"

#include "file_io.hpp"

#include <stdexcept>

namespace pe {

key id(std::uint32_t value) {
    return {false, value, {}};
}

key named(std::u16string value) {
    return {true, 0, std::move(value)};
}

std::array<char, 8> section_name(const std::string& text) {
    std::array<char, 8> name{};
    for (std::size_t i = 0; i < text.size() && i < name.size(); ++i) {
        name[i] = text[i];
    }
    return name;
}

void put16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value) {
    if (bytes.size() < offset + 2) {
        bytes.resize(offset + 2);
    }
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
    put16(bytes, offset, static_cast<std::uint16_t>(value));
    put16(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

namespace {

// Counts of a directory's entries: string-named ones are written first.
template <typename Node>
std::pair<std::uint16_t, std::uint16_t> counts(const std::vector<Node>& nodes) {
    std::uint16_t n = 0;
    for (const auto& node : nodes) {
        n = static_cast<std::uint16_t>(n + (node.k.named ? 1 : 0));
    }
    return {n, static_cast<std::uint16_t>(nodes.size() - n)};
}

// Nodes in directory order: named first, then IDs, each in the given order.
template <typename Node>
std::vector<const Node*> directory_order(const std::vector<Node>& nodes) {
    std::vector<const Node*> out;
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& node : nodes) {
            if (node.k.named == (pass == 0)) {
                out.push_back(&node);
            }
        }
    }
    return out;
}

// The resource section's bytes, laid out as directories, data entries, name
// strings, then payloads; `base` is its file offset.
struct tree_writer {
    std::vector<std::uint8_t> out;
    std::uint32_t base;
    std::uint32_t rva;
    image& img;
    std::vector<std::pair<std::size_t, const std::u16string*>> name_fixups;

    std::uint32_t directory_size(std::size_t entries) const {
        return static_cast<std::uint32_t>(16 + 8 * entries);
    }

    template <typename Node>
    std::size_t write_directory(const std::vector<Node>& nodes) {
        const std::size_t at = out.size();
        img.directories.push_back(base + static_cast<std::uint32_t>(at));
        out.resize(at + directory_size(nodes.size()));
        const auto [n_named, n_ids] = counts(nodes);
        put16(out, at + 12, n_named);
        put16(out, at + 14, n_ids);
        std::size_t e = at + 16;
        for (const Node* node : directory_order(nodes)) {
            if (node->k.named) {
                name_fixups.emplace_back(e, &node->k.name);
            } else {
                put32(out, e, node->k.id);
            }
            e += 8;
        }
        return at;
    }

    void set_second_words(std::size_t dir, std::uint32_t index, std::uint32_t value) {
        put32(out, dir + 16 + 8 * index + 4, value);
    }
};

}  // namespace

image build(const image_plan& plan) {
    image img;
    std::vector<std::uint8_t>& b = img.bytes;
    b.assign(plan.e_lfanew, 0);
    if (plan.e_lfanew >= 0x40) {
        b[0] = 'M';
        b[1] = 'Z';
        put32(b, 0x3C, plan.e_lfanew);
    }
    b.insert(b.end(), plan.signature.begin(), plan.signature.end());
    put16(b, plan.e_lfanew + 4, 0x14C);
    put16(b, plan.e_lfanew + 6, static_cast<std::uint16_t>(plan.sections.size()));
    put16(b, plan.e_lfanew + 20, plan.optional_header_size);
    put16(b, plan.e_lfanew + 22, 0x2102);
    img.section_table = plan.e_lfanew + 24 + plan.optional_header_size;
    b.resize(img.section_table + 40 * plan.sections.size());

    for (std::size_t s = 0; s < plan.sections.size(); ++s) {
        const section_plan& sec = plan.sections[s];
        const std::size_t h = img.section_table + 40 * s;
        b.resize((b.size() + 15) / 16 * 16);
        const auto raw = static_cast<std::uint32_t>(b.size());
        std::vector<std::uint8_t> body(16, 0);
        if (sec.holds_resources && img.rsrc_raw == 0) {
            img.rsrc_raw = raw;
            img.rsrc_rva = sec.virtual_address;
            tree_writer w{{}, raw, sec.virtual_address, img, {}};
            // Directories, breadth first.
            const std::size_t root = w.write_directory(plan.types);
            const auto types = directory_order(plan.types);
            std::vector<std::size_t> name_dirs;
            for (std::uint32_t t = 0; t < types.size(); ++t) {
                w.set_second_words(root, t, 0x80000000u | static_cast<std::uint32_t>(w.out.size()));
                name_dirs.push_back(w.write_directory(types[t]->names));
            }
            std::vector<std::pair<std::size_t, const name_node*>> lang_dirs;
            for (std::uint32_t t = 0; t < types.size(); ++t) {
                const auto names = directory_order(types[t]->names);
                for (std::uint32_t n = 0; n < names.size(); ++n) {
                    w.set_second_words(name_dirs[t], n,
                                       0x80000000u | static_cast<std::uint32_t>(w.out.size()));
                    lang_dirs.emplace_back(w.write_directory(names[n]->languages), names[n]);
                }
            }
            // Data entries, in the order the tree lists the languages; the
            // language directories point at them in directory order.
            std::vector<std::pair<std::size_t, const language*>> entries;
            for (const auto& [dir, name] : lang_dirs) {
                const auto langs = directory_order(name->languages);
                for (std::uint32_t l = 0; l < langs.size(); ++l) {
                    w.set_second_words(dir, l, static_cast<std::uint32_t>(w.out.size()));
                    entries.emplace_back(w.out.size(), langs[l]);
                    w.out.resize(w.out.size() + 16);
                }
            }
            for (auto& [at, text] : w.name_fixups) {
                put32(w.out, at, 0x80000000u | static_cast<std::uint32_t>(w.out.size()));
                const std::size_t s_at = w.out.size();
                put16(w.out, s_at, static_cast<std::uint16_t>(text->size()));
                for (std::size_t i = 0; i < text->size(); ++i) {
                    put16(w.out, s_at + 2 + 2 * i, static_cast<std::uint16_t>((*text)[i]));
                }
            }
            img.structures_end = raw + static_cast<std::uint32_t>(w.out.size());
            // Payloads, 4-byte aligned, in tree order.
            for (const auto& t : plan.types) {
                for (const auto& n : t.names) {
                    for (const auto& l : n.languages) {
                        w.out.resize((w.out.size() + 3) / 4 * 4);
                        const auto at = static_cast<std::uint32_t>(w.out.size());
                        for (const auto& [entry, lang] : entries) {
                            if (lang == &l) {
                                put32(w.out, entry, sec.virtual_address + at);
                                put32(w.out, entry + 4, static_cast<std::uint32_t>(l.data.size()));
                                img.data_entries.push_back(raw + static_cast<std::uint32_t>(entry));
                            }
                        }
                        img.payloads.push_back(raw + at);
                        w.out.insert(w.out.end(), l.data.begin(), l.data.end());
                    }
                }
            }
            body = std::move(w.out);
        }
        std::copy(sec.name.begin(), sec.name.end(), b.begin() + static_cast<std::ptrdiff_t>(h));
        put32(b, h + 8, static_cast<std::uint32_t>(body.size()));
        put32(b, h + 12, sec.virtual_address);
        put32(b, h + 16, static_cast<std::uint32_t>(body.size()));
        put32(b, h + 20, raw);
        b.insert(b.end(), body.begin(), body.end());
    }
    return img;
}

std::string write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    auto f = common::open_write(path);
    if (!f || (!bytes.empty() && !common::write_all(f.get(), bytes)) || !common::close_file(f)) {
        throw std::runtime_error("cannot write " + path);
    }
    return path;
}

}  // namespace pe
