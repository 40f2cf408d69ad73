// CHOICE, SEQUENCE, SEQUENCE OF and the open types.
#include "asn1/asn1.h"

#include <algorithm>
#include <cstring>

namespace ASN1 {

// ---------------------------------------------------------------- CHOICE

CHOICE::CHOICE(CHOICE const& other)
    : AbstractData(other), value_(other.value_ ? other.value_->clone() : nullptr), selection_(other.selection_)
{
}

CHOICE& CHOICE::operator=(CHOICE const& other)
{
    std::unique_ptr<AbstractData> v(other.value_ ? other.value_->clone() : nullptr);
    value_ = std::move(v);
    selection_ = other.selection_;
    return *this;
}

void CHOICE::swap(CHOICE& other)
{
    value_.swap(other.value_);
    std::swap(selection_, other.selection_);
}

bool CHOICE::select(int index)
{
    if (selection_ == index && index >= 0 && value_)
        return true;
    selection_ = index;
    return createSelection();
}

bool CHOICE::createSelection()
{
    InfoType const* i = info();
    if (selection_ >= 0 && unsigned(selection_) < i->totalChoices && i->selectionInfos[selection_]) {
        value_.reset(AbstractData::create(i->selectionInfos[selection_]));
        return true;
    }
    selection_ = unknownSelection_;
    value_.reset();
    return false;
}

AbstractData* CHOICE::setSelection(int index, AbstractData* value)
{
    value_.reset(value);
    selection_ = index;
    return value;
}

unsigned CHOICE::getSelectionTag() const
{
    InfoType const* i = info();
    return i->selectionTags ? i->selectionTags[selection_] : ContextSpecificTag + unsigned(selection_);
}

char const* CHOICE::getSelectionName() const { return info()->selectionNames[selection_]; }

bool CHOICE::isValid() const
{
    if (selection_ < 0 || !value_ || isUnknownSelection())
        return false;
    if (!extendable() && unsigned(selection_) >= getNumChoices())
        return false;
    return value_->isValid();
}

bool CHOICE::isStrictlyValid() const
{
    return selection_ >= 0 && value_ && unsigned(selection_) < getNumChoices() && value_->isStrictlyValid();
}

int CHOICE::do_compare(AbstractData const& other) const
{
    auto o = dynamic_cast<CHOICE const*>(&other);
    if (!o)
        return foreignCompare(other);
    if (selection_ < 0 || selection_ != o->selection_)
        return selection_ - o->selection_;
    if (!value_ || !o->value_)
        return int(bool(value_)) - int(bool(o->value_));
    return value_->compare(*o->value_);
}

AbstractData* CHOICE::do_clone() const { return cloneAs(*this); }

// ---------------------------------------------------------------- SEQUENCE

const unsigned SEQUENCE::defaultTag = 0;

SEQUENCE::BitMap::Bytes::Bytes(Bytes const& other) : store_()
{
    resize(other.size_);
    if (size_ != 0)
        std::memcpy(data(), other.data(), size_);
}

SEQUENCE::BitMap::Bytes& SEQUENCE::BitMap::Bytes::operator=(Bytes const& other)
{
    Bytes copy(other);
    swap(copy);
    return *this;
}

void SEQUENCE::BitMap::Bytes::swap(Bytes& other) noexcept
{
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    std::swap(store_, other.store_);
}

void SEQUENCE::BitMap::Bytes::grow(std::size_t n)
{
    unsigned const capacity = unsigned(n < 2 * std::size_t(capacity_) ? 2 * capacity_ : n);
    char* heap = static_cast<char*>(detail::poolAllocate(capacity));
    std::memcpy(heap, data(), size_);
    std::memset(heap + size_, 0, capacity - size_);
    if (capacity_ > Local)
        detail::poolRelease(store_.heap, capacity_);
    store_.heap = heap;
    capacity_ = capacity;
}

void SEQUENCE::BitMap::set(unsigned i)
{
    if (i < bitCount_)
        bytes_[i / 8] = static_cast<char>(static_cast<unsigned char>(bytes_[i / 8]) | (0x80 >> (i % 8)));
}

void SEQUENCE::BitMap::clear(unsigned i)
{
    if (i < bitCount_)
        bytes_[i / 8] = static_cast<char>(static_cast<unsigned char>(bytes_[i / 8]) & ~(0x80 >> (i % 8)));
}

void SEQUENCE::BitMap::swap(BitMap& other) noexcept
{
    bytes_.swap(other.bytes_);
    std::swap(bitCount_, other.bitCount_);
}

bool SEQUENCE::BitMap::any() const
{
    return std::any_of(bytes_.begin(), bytes_.end(), [](char c) { return c != 0; });
}

SEQUENCE::FieldVector::FieldVector(std::size_t n) : size_(n), local_()
{
    if (n > Local) {
        heap_ = static_cast<AbstractData**>(detail::poolAllocate(n * sizeof(AbstractData*)));
        std::fill_n(heap_, n, nullptr);
    }
}

// A clone that throws leaves the entries made so far to the destructor,
// which runs because the delegated constructor has completed.
SEQUENCE::FieldVector::FieldVector(FieldVector const& other) : FieldVector(other.size_)
{
    AbstractData** to = data();
    for (std::size_t k = 0; k < size_; ++k)
        if (AbstractData const* f = other[k])
            to[k] = f->clone();
}

SEQUENCE::FieldVector::~FieldVector()
{
    for (AbstractData* f : *this)
        delete f;
    if (heap_)
        detail::poolRelease(heap_, size_ * sizeof(AbstractData*));
}

void SEQUENCE::FieldVector::swap(FieldVector& other) noexcept
{
    std::swap(heap_, other.heap_);
    std::swap(size_, other.size_);
    std::swap(local_, other.local_);
}

SEQUENCE::SEQUENCE(void const* info)
    : AbstractData(info), fields_(static_cast<InfoType const*>(info)->numRootFields +
                                  static_cast<InfoType const*>(info)->numExtensions)
{
    InfoType const* i = this->info();
    optionalMap_.resize(i->numOptional);
    for (unsigned k = 0; k < i->numRootFields; ++k)
        if (i->fieldIds[k] == -1)
            fields_[k] = AbstractData::create(i->fieldInfos[k]);
    if (i->defaultExtensions && i->numExtensions) {
        extensionMap_.resize(i->numExtensions);
        BitMap::Bytes& bytes = extensionMap_.getData();
        for (std::size_t b = 0; b < bytes.size(); ++b)
            bytes[b] = static_cast<char>(i->defaultExtensions[b]);
        extensionMap_.resize(i->numExtensions); // drops bits past the count
        for (unsigned k = 0; k < i->numExtensions; ++k)
            if (extensionMap_[k])
                fields_[i->numRootFields + k] = AbstractData::create(i->fieldInfos[i->numRootFields + k]);
    }
}

SEQUENCE::SEQUENCE(SEQUENCE const& other)
    : AbstractData(other), fields_(other.fields_), optionalMap_(other.optionalMap_), extensionMap_(other.extensionMap_)
{
}

SEQUENCE& SEQUENCE::operator=(SEQUENCE const& other)
{
    FieldVector f(other.fields_);
    BitMap o(other.optionalMap_), e(other.extensionMap_);
    fields_.swap(f);
    optionalMap_.swap(o);
    extensionMap_.swap(e);
    return *this;
}

void SEQUENCE::swap(SEQUENCE& other)
{
    fields_.swap(other.fields_);
    optionalMap_.swap(other.optionalMap_);
    extensionMap_.swap(other.extensionMap_);
}

AbstractData*& SEQUENCE::includeOptionalField(unsigned opt, unsigned index)
{
    if (opt < optionalMap_.size()) {
        optionalMap_.set(opt);
    } else {
        unsigned k = opt - optionalMap_.size();
        if (extensionMap_.size() <= k)
            extensionMap_.resize(k + 1);
        extensionMap_.set(k);
    }
    return fields_[index] ? fields_[index] : (fields_[index] = AbstractData::create(info()->fieldInfos[index]));
}

void SEQUENCE::removeOptionalField(unsigned opt)
{
    if (opt < optionalMap_.size())
        optionalMap_.clear(opt);
    else
        extensionMap_.clear(opt - optionalMap_.size());
}

int SEQUENCE::tagMode() const
{
    unsigned const* t = info()->fieldTags;
    return !t ? 0 : t == &defaultTag ? 2 : 1;
}

unsigned SEQUENCE::getFieldTag(int index) const
{
    switch (tagMode()) {
    case 0:
        return ContextSpecificTag + unsigned(index);
    case 2:
        return static_cast<AbstractData::InfoType const*>(info()->fieldInfos[index])->tag;
    default:
        return info()->fieldTags[index];
    }
}

int SEQUENCE::do_compare(AbstractData const& other) const
{
    auto o = dynamic_cast<SEQUENCE const*>(&other);
    if (!o)
        return foreignCompare(other);
    InfoType const* i = info();
    auto field = [&](unsigned k, bool present, bool otherPresent) {
        if (!present || !otherPresent)
            return int(present) - int(otherPresent);
        AbstractData const* a = fields_[k];
        AbstractData const* b = k < o->fields_.size() ? o->fields_[k] : nullptr;
        if (!a || !b)
            return int(a != nullptr) - int(b != nullptr);
        return a->compare(*b);
    };
    for (unsigned k = 0; k < i->numRootFields; ++k) {
        int id = i->fieldIds[k];
        int r = id == -1 ? field(k, true, true) : field(k, hasOptionalField(id), o->hasOptionalField(id));
        if (r)
            return r;
    }
    for (unsigned k = i->numRootFields; k < fields_.size(); ++k) {
        unsigned opt = i->numOptional + (k - i->numRootFields);
        int r = field(k, hasOptionalField(opt), o->hasOptionalField(opt));
        if (r)
            return r;
    }
    return 0;
}

AbstractData* SEQUENCE::do_clone() const { return cloneAs(*this); }

// ---------------------------------------------------------------- SEQUENCE OF

SEQUENCE_OF_Base::SEQUENCE_OF_Base(SEQUENCE_OF_Base const& other) : ConstrainedObject(other)
{
    elements_.reserve(other.elements_.size());
    try {
        for (AbstractData const* e : other.elements_)
            elements_.push_back(e->clone());
    } catch (...) {
        clear();
        throw;
    }
}

SEQUENCE_OF_Base& SEQUENCE_OF_Base::operator=(SEQUENCE_OF_Base const& other)
{
    SEQUENCE_OF_Base copy(other);
    elements_.swap(copy.elements_);
    return *this;
}

SEQUENCE_OF_Base::~SEQUENCE_OF_Base() { clear(); }

void SEQUENCE_OF_Base::clear()
{
    for (AbstractData* e : elements_)
        delete e;
    elements_.clear();
}

AbstractData* SEQUENCE_OF_Base::createElement() const { return AbstractData::create(info()->elementInfo); }

void SEQUENCE_OF_Base::push_back(AbstractData* value)
{
    if (!value) // elements are never null
        return;
    std::unique_ptr<AbstractData> v(value);
    elements_.push_back(v.get());
    v.release();
}

template <class Make>
void SEQUENCE_OF_Base::insertMade(iterator pos, std::size_t n, Make make)
{
    auto at = pos - elements_.begin();
    elements_.reserve(elements_.size() + n); // the insert below cannot throw
    std::vector<AbstractData*> fresh;
    fresh.reserve(n);
    try {
        for (std::size_t k = 0; k < n; ++k)
            fresh.push_back(make(k));
    } catch (...) {
        for (AbstractData* e : fresh)
            delete e;
        throw;
    }
    elements_.insert(elements_.begin() + at, fresh.begin(), fresh.end());
}

void SEQUENCE_OF_Base::insert(iterator pos, unsigned n, AbstractData const& x)
{
    create_from0 make{x};
    insertMade(pos, n, [&](std::size_t) { return make(); });
}

void SEQUENCE_OF_Base::insert(iterator pos, const_iterator first, const_iterator last)
{
    create_from_ptr make;
    insertMade(pos, std::size_t(last - first), [&](std::size_t k) { return make(first[k]); });
}

SEQUENCE_OF_Base::iterator SEQUENCE_OF_Base::erase(iterator first, iterator last)
{
    for (iterator i = first; i != last; ++i)
        delete *i;
    return elements_.erase(first, last);
}

void SEQUENCE_OF_Base::resize(unsigned n)
{
    if (elements_.size() > n) {
        erase(elements_.begin() + n, elements_.end());
        return;
    }
    elements_.reserve(n);
    while (elements_.size() < n)
        push_back(createElement());
}

bool SEQUENCE_OF_Base::isValid() const
{
    return sizeValid(size()) &&
           std::all_of(elements_.begin(), elements_.end(), [](AbstractData const* e) { return e->isValid(); });
}

bool SEQUENCE_OF_Base::isStrictlyValid() const
{
    return sizeStrictlyValid(size()) &&
           std::all_of(elements_.begin(), elements_.end(), [](AbstractData const* e) { return e->isStrictlyValid(); });
}

int SEQUENCE_OF_Base::do_compare(AbstractData const& other) const
{
    auto o = dynamic_cast<SEQUENCE_OF_Base const*>(&other);
    if (!o)
        return foreignCompare(other);
    std::size_t n = std::min(elements_.size(), o->elements_.size());
    for (std::size_t i = 0; i < n; ++i)
        if (int r = elements_[i]->compare(*o->elements_[i]))
            return r;
    return elements_.size() < o->elements_.size() ? -1 : elements_.size() > o->elements_.size() ? 1 : 0;
}

AbstractData* SEQUENCE_OF_Base::do_clone() const { return cloneAs(*this); }

// ---------------------------------------------------------------- open types

const OpenData::InfoType OpenData::theInfo = {&OpenData::create, 0};

OpenData::OpenData(OpenData const& other)
    : AbstractData(other), data_(other.data_ ? other.data_->clone() : nullptr),
      buf_(other.buf_ ? new std::vector<char>(*other.buf_) : nullptr)
{
}

OpenData& OpenData::operator=(OpenData const& other)
{
    OpenData copy(other);
    swap(copy);
    return *this;
}

OpenData::~OpenData() = default;

void OpenData::swap(OpenData& other)
{
    data_.swap(other.data_);
    buf_.swap(other.buf_);
}

bool OpenData::isValid() const { return data_ ? data_->isValid() : buf_ != nullptr; }

bool OpenData::isStrictlyValid() const { return data_ ? data_->isStrictlyValid() : buf_ != nullptr; }

int OpenData::do_compare(AbstractData const& other) const
{
    auto o = dynamic_cast<OpenData const*>(&other);
    if (!o)
        return foreignCompare(other);
    if (data_ && o->data_)
        return data_->compare(*o->data_);
    if (buf_ && o->buf_)
        return lexicographic_compare_bytes(buf_->data(), buf_->data() + buf_->size(), o->buf_->data(),
                                           o->buf_->data() + o->buf_->size());
    if (isEmpty() && o->isEmpty())
        return 0;
    return data_ ? 1 : -1;
}

AbstractData* OpenData::do_clone() const { return cloneAs(*this); }

AbstractData* TypeConstrainedOpenData::create(void const* info)
{
    auto i = static_cast<InfoType const*>(info);
    std::unique_ptr<AbstractData> content(AbstractData::create(i->contentInfo));
    auto* p = new TypeConstrainedOpenData(content.get(), info);
    content.release();
    return p;
}

} // namespace ASN1
