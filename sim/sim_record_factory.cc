#include "sim/sim_record_factory.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "sim/sim_universe.h"

namespace com::mivo::kmr::client {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

enum class SimRecordFactory::Role {
    kUnset,
    kDataType,
    kDate,
    kTime,
    kDateText,
    kTimeText,
    kChannel,
    kPowerOf10,
    kPhaseCode,
    kPhaseText,
    kIdSource,
    kSecurityType,
    kSecurityId,
    kCode,
    kSymbol,
    kStockNum,
    kPreClose,
    kLimitUp,
    kLimitDown,
    kHigh,
    kLow,
    kOpen,
    kPrice,
    kYield,
    kValue,
    kSmallQty,
    kVolume,
    kCount,
    kSerial,
    kSide,
    kSmallCode,
    kRatio,
    kPriceQueueBuy,
    kPriceQueueSell,
    kYieldQueue,
    kQtyQueue,
    kOrdersQueue,
    kOrderQueue,
    kSettlQueue,
    kEntriesBuy,
    kEntriesSell,
};

// The market of one security at one version.
struct SimRecordFactory::Tick {
    uint64_t salt = 0;
    uint32_t version = 0;
    double pre = 0;
    double open = 0;
    double last = 0;
    double high = 0;
    double low = 0;
    double step = 0;
    int64_t volume = 0;
    double value = 0;
    int64_t trades = 0;
    int date = 0;
    int time = 0;
};

namespace {

constexpr int kLevels = 10;
constexpr double kScale = 10000.0;  // ZEL prices carry DataMultiplePowerOf10 = 4
constexpr int kTradingDate = 20261209;

double Unit(uint64_t salt, uint64_t what) {
    return static_cast<double>(SimUniverse::Mix(salt, what) >> 11) / 9007199254740992.0;
}

bool StartsWith(const std::string& name, const char* prefix) {
    return name.compare(0, std::strlen(prefix), prefix) == 0;
}

bool Has(const std::string& name, const char* part) {
    return name.find(part) != std::string::npos;
}

void SetPrice(Message* m, const Reflection* r, const FieldDescriptor* f, double px) {
    switch (f->cpp_type()) {
        case FieldDescriptor::CPPTYPE_DOUBLE:
            r->SetDouble(m, f, std::round(px * kScale) / kScale);
            break;
        case FieldDescriptor::CPPTYPE_INT64:
            r->SetInt64(m, f, std::llround(px * kScale));
            break;
        case FieldDescriptor::CPPTYPE_INT32:
            r->SetInt32(m, f, static_cast<int32_t>(std::llround(px * kScale)));
            break;
        default:
            break;
    }
}

void AddPrice(Message* m, const Reflection* r, const FieldDescriptor* f, double px) {
    if (f->cpp_type() == FieldDescriptor::CPPTYPE_DOUBLE) {
        r->AddDouble(m, f, std::round(px * kScale) / kScale);
    } else if (f->cpp_type() == FieldDescriptor::CPPTYPE_INT64) {
        r->AddInt64(m, f, std::llround(px * kScale));
    } else if (f->cpp_type() == FieldDescriptor::CPPTYPE_INT32) {
        r->AddInt32(m, f, static_cast<int32_t>(std::llround(px * kScale)));
    }
}

void SetCount(Message* m, const Reflection* r, const FieldDescriptor* f, int64_t value) {
    switch (f->cpp_type()) {
        case FieldDescriptor::CPPTYPE_DOUBLE:
            r->SetDouble(m, f, static_cast<double>(value));
            break;
        case FieldDescriptor::CPPTYPE_INT64:
            r->SetInt64(m, f, value);
            break;
        case FieldDescriptor::CPPTYPE_INT32:
            r->SetInt32(m, f, static_cast<int32_t>(value));
            break;
        case FieldDescriptor::CPPTYPE_STRING:
            r->SetString(m, f, std::to_string(value));
            break;
        default:
            break;
    }
}

void AddCount(Message* m, const Reflection* r, const FieldDescriptor* f, int64_t value) {
    if (f->cpp_type() == FieldDescriptor::CPPTYPE_DOUBLE) {
        r->AddDouble(m, f, static_cast<double>(value));
    } else if (f->cpp_type() == FieldDescriptor::CPPTYPE_INT64) {
        r->AddInt64(m, f, value);
    } else if (f->cpp_type() == FieldDescriptor::CPPTYPE_INT32) {
        r->AddInt32(m, f, static_cast<int32_t>(value));
    }
}

// Daily fields nobody on a domestic feed fills.
const char* const kExoticPrefixes[] = {"PreMarket",
                                       "AfterHours",
                                       "US",
                                       "Otc",
                                       "Withdraw",
                                       "ShortSell",
                                       "Implied",
                                       "Leg",
                                       "Auction",
                                       "ComplexEvent",
                                       "HighAccuracy",
                                       "HighPrecisionTimestamp",
                                       "SubTradingPhase",
                                       "TradingHalt",
                                       "Duration",
                                       "ModifiedDuration",
                                       "Convexity",
                                       "AccruedInterest",
                                       "Secondary",
                                       "QuoteID",
                                       "MemberID",
                                       "Investor",
                                       "TraderCode",
                                       "Memo",
                                       "BidTrans",
                                       "BidExec",
                                       "MinQty",
                                       "TradedQty",
                                       "Commodity",
                                       "ExtraDetail",
                                       "Purchase",
                                       "Redemption",
                                       "BlockVolume",
                                       "Eligible",
                                       "Strategy",
                                       "Settl",
                                       "Deal",
                                       "RepoTerm",
                                       "MarketIndicator",
                                       "FITrading",
                                       "HKTrade",
                                       "Margin",
                                       "TotalFacevalue",
                                       "BondCode",
                                       "BondName",
                                       "SecurityStatus",
                                       "LastPxType",
                                       "PositionTrend",
                                       "TotalWarrant",
                                       "BuyTradeMax",
                                       "SellTradeMax",
                                       "OpenInterest",
                                       "PreOpenInterest"};

}  // namespace

SimRecordFactory::SimRecordFactory(const SimUniverse& universe) : m_universe(universe) {}

SimRecordFactory::~SimRecordFactory() = default;

SimRecordFactory::Role SimRecordFactory::Classify(const FieldDescriptor* field) {
    const std::string& name = field->name();
    const bool text = field->cpp_type() == FieldDescriptor::CPPTYPE_STRING;
    if (field->is_repeated()) {
        if (field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE) {
            return Has(name, "Buy")    ? Role::kEntriesBuy
                   : Has(name, "Sell") ? Role::kEntriesSell
                                       : Role::kUnset;
        }
        if (Has(name, "PriceQueue")) {
            return Has(name, "Buy") ? Role::kPriceQueueBuy : Role::kPriceQueueSell;
        }
        if (Has(name, "YieldQueue")) {
            return Role::kYieldQueue;
        }
        if (Has(name, "QtyQueue")) {
            return Role::kQtyQueue;
        }
        if (Has(name, "NumOrdersQueue") || Has(name, "NoOrdersQueue")) {
            return Role::kOrdersQueue;
        }
        if (Has(name, "OrderQueue")) {
            return Role::kOrderQueue;
        }
        if (Has(name, "SettlTypeQueue")) {
            return Role::kSettlQueue;
        }
        return Role::kUnset;
    }
    if (name == "ZELDataType" || name == "ZELRecordType")
        return Role::kDataType;
    if (name == "ExchangeDate" || name == "TradeDate")
        return text ? Role::kDateText : Role::kDate;
    if (name == "ExchangeTime")
        return text ? Role::kTimeText : Role::kTime;
    if (name == "MDDate" || name == "TradingDate" || name == "PreCloseDate" || name == "PreSettleDate") {
        return Role::kDate;
    }
    if (name == "MDTime")
        return Role::kTime;
    if (name == "ChannelNo")
        return Role::kChannel;
    if (name == "DataMultiplePowerOf10")
        return Role::kPowerOf10;
    if (name == "TradingPhaseCode")
        return Role::kPhaseCode;
    if (name == "MarketPhaseCode")
        return Role::kPhaseText;
    if (name == "ZELSecurityIDSource")
        return Role::kIdSource;
    if (name == "ZELSecurityType")
        return Role::kSecurityType;
    if (name == "ZELSecurityID")
        return Role::kSecurityId;
    if (name == "SecurityID")
        return Role::kCode;
    if (name == "symbol")
        return Role::kSymbol;
    if (name == "StockNum")
        return Role::kStockNum;
    for (const char* prefix : kExoticPrefixes) {
        if (StartsWith(name, prefix)) {
            return Role::kUnset;
        }
    }
    if (text)
        return Role::kUnset;
    if (Has(name, "Yield"))
        return Role::kYield;
    if (Has(name, "PreClose") || Has(name, "PreSettle") || name == "PreIOPV")
        return Role::kPreClose;
    if (name == "MaxPx" || name == "HighLimitPrice" || name == "MaxBuyPrice" || name == "MaxSellPrice") {
        return Role::kLimitUp;
    }
    if (name == "MinPx" || name == "LowLimitPrice" || name == "MinBuyPrice" || name == "MinSellPrice") {
        return Role::kLimitDown;
    }
    if (name == "HighPx")
        return Role::kHigh;
    if (name == "LowPx")
        return Role::kLow;
    if (name == "OpenPx")
        return Role::kOpen;
    if (Has(name, "Rate") || Has(name, "Ratio") || Has(name, "Speed") || Has(name, "Swing") ||
        Has(name, "Change") || Has(name, "Delta") || Has(name, "Premium")) {
        return Role::kRatio;
    }
    if (Has(name, "Px") || Has(name, "Price") || Has(name, "IOPV") || Has(name, "Iopv"))
        return Role::kPrice;
    if (Has(name, "Value") || Has(name, "Money") || Has(name, "Turnover") || Has(name, "Amount")) {
        return Role::kValue;
    }
    if (name == "OrderQty" || name == "TradeQty" || Has(name, "QtyAt"))
        return Role::kSmallQty;
    if (Has(name, "Volume") || Has(name, "Qty"))
        return Role::kVolume;
    if (name == "OrderIndex" || name == "TradeIndex" || name == "OrderNO" || name == "TradeBuyNo" ||
        name == "TradeSellNo" || name == "ApplSeqNum") {
        return Role::kSerial;
    }
    if (Has(name, "Num"))
        return Role::kCount;
    if (Has(name, "BSFlag"))
        return Role::kSide;
    if (Has(name, "Type") || Has(name, "Category") || Has(name, "Period") || Has(name, "Source")) {
        return Role::kSmallCode;
    }
    return Role::kUnset;
}

const SimRecordFactory::Plan& SimRecordFactory::PlanFor(int data_type) {
    auto it = m_plans.find(data_type);
    if (it != m_plans.end()) {
        return it->second;
    }
    Plan plan;
    plan.envelope_field = m_scratch.GetDescriptor()->FindFieldByNumber(data_type);
    if (plan.envelope_field != nullptr && plan.envelope_field->message_type() != nullptr) {
        const auto* descriptor = plan.envelope_field->message_type();
        for (int i = 0; i < descriptor->field_count(); ++i) {
            Role role = Classify(descriptor->field(i));
            if (role != Role::kUnset) {
                plan.slots.push_back(Slot{descriptor->field(i), role});
            }
        }
    }
    return m_plans.emplace(data_type, std::move(plan)).first->second;
}

void SimRecordFactory::Build(int stream, uint32_t version, com::mivo::zel::model::MarketData* record) {
    record->Clear();
    const SimStream& s = m_universe.Streams()[static_cast<size_t>(stream)];
    const SimSecurity& security = m_universe.Securities()[static_cast<size_t>(s.security)];
    const Plan& plan = PlanFor(s.data_type);
    record->set_zelmessagechannel(security.channel);
    record->set_zelrecordtype(s.data_type);
    if (plan.envelope_field == nullptr) {
        return;
    }

    Tick tick;
    tick.salt = SimUniverse::Mix(m_universe.Seed(), static_cast<uint64_t>(stream));
    tick.version = version;
    const double base = security.base_price;
    // A slow and a fast wiggle: prices drift within a few per cent of the reference price.
    double drift = 0.02 * (Unit(tick.salt, version / 64) - 0.5) + 0.006 * (Unit(tick.salt, version) - 0.5);
    tick.pre = base;
    tick.open = base * (1 + 0.01 * (Unit(tick.salt, 0xA11) - 0.5));
    tick.last = base * (1 + drift);
    tick.high = std::max(tick.last, tick.open) * (1 + 0.004 * Unit(tick.salt, version / 16 + 7));
    tick.low = std::min(tick.last, tick.open) * (1 - 0.004 * Unit(tick.salt, version / 16 + 11));
    tick.step = base < 1 ? 0.001 : base < 100 ? 0.01 : base < 1000 ? 0.1 : 1.0;
    tick.volume = 100 * (static_cast<int64_t>(version) + 1) * (1 + static_cast<int64_t>(tick.salt % 37));
    tick.value = static_cast<double>(tick.volume) * (tick.last + tick.pre) / 2;
    tick.trades = tick.volume / 300 + 1;
    tick.date = kTradingDate;
    int ms = (static_cast<int>(version % 93600) * 250) % (5 * 3600 * 1000);  // 09:30 onwards, 250 ms apart
    int minutes = 9 * 60 + 30 + ms / 60000;
    tick.time = (minutes / 60) * 10000000 + (minutes % 60) * 100000 + (ms % 60000);

    Message* body = record->GetReflection()->MutableMessage(record, plan.envelope_field);
    Fill(body, plan, security, s.data_type, tick);
}

void SimRecordFactory::Render(int stream, uint32_t version, std::string* out) {
    Build(stream, version, &m_scratch);
    m_scratch.AppendToString(out);
}

void SimRecordFactory::Fill(Message* m, const Plan& plan, const SimSecurity& security, int data_type,
                            const Tick& tick) {
    const Reflection* r = m->GetReflection();
    char text[32];
    for (const Slot& slot : plan.slots) {
        const FieldDescriptor* f = slot.field;
        const double wiggle = tick.step * static_cast<double>(SimUniverse::Mix(tick.salt, f->number()) % 5);
        switch (slot.role) {
            case Role::kUnset:
                break;
            case Role::kDataType:
                SetCount(m, r, f, data_type);
                break;
            case Role::kDate:
                SetCount(m, r, f, tick.date);
                break;
            case Role::kTime:
                SetCount(m, r, f, tick.time);
                break;
            case Role::kDateText:
                r->SetString(m, f, std::to_string(tick.date));
                break;
            case Role::kTimeText:
                std::snprintf(text, sizeof(text), "%09d", tick.time);
                r->SetString(m, f, text);
                break;
            case Role::kChannel:
                SetCount(m, r, f, security.channel);
                break;
            case Role::kPowerOf10:
                SetCount(m, r, f, 4);
                break;
            case Role::kPhaseCode:
                SetCount(m, r, f, 3);
                break;
            case Role::kPhaseText:
                r->SetString(m, f, "T");
                break;
            case Role::kIdSource:
                SetCount(m, r, f, 101);
                break;
            case Role::kSecurityType:
                SetCount(m, r, f, static_cast<int>(security.security_class) + 1);
                break;
            case Role::kSecurityId:
                r->SetString(m, f, security.id);
                break;
            case Role::kCode:
                r->SetString(m, f, security.code);
                break;
            case Role::kSymbol:
                r->SetString(m, f, security.symbol);
                break;
            case Role::kStockNum:
                SetCount(m, r, f, 300);
                break;
            case Role::kPreClose:
                SetPrice(m, r, f, tick.pre);
                break;
            case Role::kLimitUp:
                SetPrice(m, r, f, tick.pre * 1.1);
                break;
            case Role::kLimitDown:
                SetPrice(m, r, f, tick.pre * 0.9);
                break;
            case Role::kHigh:
                SetPrice(m, r, f, tick.high);
                break;
            case Role::kLow:
                SetPrice(m, r, f, tick.low);
                break;
            case Role::kOpen:
                SetPrice(m, r, f, tick.open);
                break;
            case Role::kPrice:
                SetPrice(m, r, f, tick.last + wiggle);
                break;
            case Role::kYield:
                SetPrice(m, r, f, 0.02 + 0.01 * Unit(tick.salt, tick.version + f->number()));
                break;
            case Role::kRatio:
                SetPrice(m, r, f, (tick.last - tick.pre) / tick.pre);
                break;
            case Role::kValue:
                SetPrice(m, r, f, tick.value);
                break;
            case Role::kSmallQty:
                SetCount(m, r, f,
                         100 * (1 + static_cast<int64_t>(SimUniverse::Mix(tick.salt, tick.version) % 50)));
                break;
            case Role::kVolume:
                SetCount(m, r, f, tick.volume);
                break;
            case Role::kCount:
                SetCount(m, r, f, tick.trades);
                break;
            case Role::kSerial:
                SetCount(m, r, f, static_cast<int64_t>(tick.version) * 2 + 1);
                break;
            case Role::kSide:
                SetCount(m, r, f, 1 + static_cast<int>(tick.version & 1));
                break;
            case Role::kSmallCode:
                SetCount(m, r, f, 1);
                break;
            case Role::kPriceQueueBuy:
            case Role::kPriceQueueSell: {
                r->ClearField(m, f);
                double sign = slot.role == Role::kPriceQueueBuy ? -1 : 1;
                for (int level = 0; level < kLevels; ++level) {
                    AddPrice(m, r, f, tick.last + sign * tick.step * (level + 1));
                }
                break;
            }
            case Role::kYieldQueue:
                r->ClearField(m, f);
                for (int level = 0; level < kLevels; ++level) {
                    AddPrice(m, r, f, 0.02 + 0.0001 * level);
                }
                break;
            case Role::kQtyQueue:
            case Role::kOrderQueue:
                r->ClearField(m, f);
                for (int level = 0; level < kLevels; ++level) {
                    AddCount(m, r, f,
                             100 * (1 + static_cast<int64_t>(SimUniverse::Mix(tick.salt + f->number(),
                                                                              tick.version * 16 + level) %
                                                             200)));
                }
                break;
            case Role::kOrdersQueue:
                r->ClearField(m, f);
                for (int level = 0; level < kLevels; ++level) {
                    AddCount(m, r, f,
                             1 + static_cast<int64_t>(SimUniverse::Mix(tick.salt, tick.version * 16 + level) %
                                                      60));
                }
                break;
            case Role::kSettlQueue:
                r->ClearField(m, f);
                for (int level = 0; level < kLevels; ++level) {
                    AddCount(m, r, f, 0);
                }
                break;
            case Role::kEntriesBuy:
            case Role::kEntriesSell: {
                r->ClearField(m, f);
                double sign = slot.role == Role::kEntriesBuy ? -1 : 1;
                for (int level = 0; level < kLevels; ++level) {
                    Message* entry = r->AddMessage(m, f);
                    const Reflection* er = entry->GetReflection();
                    const auto* d = entry->GetDescriptor();
                    int orders =
                        1 + static_cast<int>(SimUniverse::Mix(tick.salt, tick.version * 32 + level) % 5);
                    SetCount(entry, er, d->FindFieldByName("Level"), level + 1);
                    SetPrice(entry, er, d->FindFieldByName("Price"),
                             tick.last + sign * tick.step * (level + 1));
                    SetCount(entry, er, d->FindFieldByName("TotalQty"), 100 * orders * (level + 2));
                    SetCount(entry, er, d->FindFieldByName("NumberOfOrders"), orders);
                    const FieldDescriptor* list = d->FindFieldByName("OrderQtyList");
                    for (int k = 0; k < orders; ++k) {
                        AddCount(entry, er, list, 100 * (level + 2));
                    }
                }
                break;
            }
        }
    }
}

}  // namespace com::mivo::kmr::client
