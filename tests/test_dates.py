"""Dates and market conventions: day counts, calendars, schedules, dated bonds."""
from __future__ import annotations

import datetime as dt
import pickle
import re
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

import quelm

D = dt.date


# --- Dates in and out ------------------------------------------------------------------

@pytest.mark.parametrize("value", [
    D(2024, 3, 1), dt.datetime(2024, 3, 1, 17, 30), np.datetime64("2024-03-01"),
    np.datetime64("2024-03-01T23:59:59"), pd.Timestamp("2024-03-01 09:00"), "2024-03-01",
])
def test_every_date_type_reads_as_its_day(value):
    assert quelm.day_count("2024-01-01", value, "act/360") == 60
    assert quelm.Calendar("weekends").adjust(value) == D(2024, 3, 1)
    assert type(quelm.Calendar("weekends").adjust(value)) is dt.date


def test_bad_dates_name_the_date_or_the_argument():
    with pytest.raises(ValueError, match='2024-02-30'):
        quelm.year_fraction("2024-02-30", "2024-03-01", "act/360")
    with pytest.raises(ValueError, match='date must be YYYY-MM-DD, got "2024/02/01"'):
        quelm.year_fraction("2024/02/01", "2024-03-01", "act/360")
    with pytest.raises(TypeError, match="argument 'end'"):
        quelm.year_fraction("2024-02-01", 20240301, "act/360")
    with pytest.raises(TypeError, match="argument 'd'"):
        quelm.Calendar("uk").is_business_day(None)
    with pytest.raises(ValueError, match="NaT"):
        quelm.year_fraction(np.datetime64("NaT"), "2024-03-01", "act/360")
    with pytest.raises(ValueError, match="NaT"):
        quelm.year_fraction(pd.NaT, "2024-03-01", "act/360")


@pytest.mark.parametrize("text", ["+2024-02-29", "2024-+2-29", "2024-02-+9", "+0-01-01"])
def test_a_signed_date_text_is_not_a_date(text):
    # A date is digits only: a sign made "+2024-02-29" read as 29 February 2024.
    with pytest.raises(ValueError) as info:
        quelm.year_fraction(text, "2025-03-01", "act/360")
    assert str(info.value) == f'date must be YYYY-MM-DD, got "{text}"'
    with pytest.raises(ValueError, match="date must be YYYY-MM-DD"):
        quelm.Calendar("uk").is_business_day(text)
    with pytest.raises(ValueError, match="date must be YYYY-MM-DD"):
        quelm.YieldCurve.bootstrap(text, [quelm.Deposit("3M", 0.03)])


def test_mwr_takes_date_objects_with_the_same_answer():
    # 365 days at 10 %: the rate is 0.1 whichever way the dates are written.
    for dates in (["2023-01-01", "2024-01-01"], [D(2023, 1, 1), np.datetime64("2024-01-01")],
                  [pd.Timestamp("2023-01-01"), "2024-01-01"]):
        assert quelm.mwr(dates, [-100.0, 110.0]) == pytest.approx(0.1, abs=1e-12)
    with pytest.raises(ValueError, match="dates and amounts must be the same length"):
        quelm.mwr([D(2023, 1, 1)], [-100.0, 110.0])
    with pytest.raises(TypeError, match="argument 'dates'"):
        quelm.mwr([1.5, "2024-01-01"], [-100.0, 110.0])


# --- Day counts --------------------------------------------------------------------------

# ISDA, "EMU and market conventions: recent developments" (1998), the actual/actual
# examples: (start, end, reference period for ICMA, ISDA, ICMA, AFB).
ACT_ACT = [
    (D(2003, 11, 1), D(2004, 5, 1), (D(2003, 11, 1), D(2004, 5, 1)), 0.497724380567, 0.5, 0.497267759563),
    # a short first period, then the regular one after it
    (D(1999, 2, 1), D(1999, 7, 1), (D(1998, 7, 1), D(1999, 7, 1)), 0.410958904110, 0.410958904110, 0.410958904110),
    (D(1999, 7, 1), D(2000, 7, 1), (D(1999, 7, 1), D(2000, 7, 1)), 1.001377348600, 1.0, 1.0),
    # a long first period, then the regular one after it
    (D(2002, 8, 15), D(2003, 7, 15), (D(2003, 1, 15), D(2003, 7, 15)), 0.915068493151, 0.915760869565,
     0.915068493151),
    (D(2003, 7, 15), D(2004, 1, 15), (D(2003, 7, 15), D(2004, 1, 15)), 0.504004790778, 0.5, 0.504109589041),
    # a short final period, after the regular one before it
    (D(1999, 7, 30), D(2000, 1, 30), (D(1999, 7, 30), D(2000, 1, 30)), 0.503892506924, 0.5, 0.504109589041),
    (D(2000, 1, 30), D(2000, 6, 30), (D(2000, 1, 30), D(2000, 7, 30)), 0.415300546448, 0.417582417582,
     0.415300546448),
]


@pytest.mark.parametrize("start,end,ref,isda,icma,afb", ACT_ACT)
def test_actual_actual_memo_examples(start, end, ref, isda, icma, afb):
    # the memo prints twelve decimals
    assert quelm.year_fraction(start, end, "act/act-isda") == pytest.approx(isda, abs=1e-11)
    assert quelm.year_fraction(start, end, "act/act-icma", ref_start=ref[0], ref_end=ref[1]) == pytest.approx(
        icma, abs=1e-11)
    assert quelm.year_fraction(start, end, "act/act-afb") == pytest.approx(afb, abs=1e-11)


# ISDA 2006 Definitions 4.16(f), (g), (h): the published 30/360 examples, as
# (start, end, 30/360, 30E/360, 30E/360 ISDA) with the termination date 2009-02-28.
THIRTY_360 = [
    (D(2006, 8, 20), D(2007, 2, 20), 180, 180, 180),
    (D(2007, 2, 20), D(2007, 8, 20), 180, 180, 180),
    (D(2007, 8, 20), D(2008, 2, 20), 180, 180, 180),
    (D(2008, 2, 20), D(2008, 8, 20), 180, 180, 180),
    (D(2008, 8, 20), D(2009, 2, 20), 180, 180, 180),
    (D(2006, 8, 31), D(2007, 2, 28), 178, 178, 180),
    (D(2007, 2, 28), D(2007, 8, 31), 183, 182, 180),
    (D(2007, 8, 31), D(2008, 2, 29), 179, 179, 180),
    (D(2008, 2, 29), D(2008, 8, 31), 182, 181, 180),
    (D(2008, 8, 31), D(2009, 2, 28), 178, 178, 178),  # ends on the termination date
    (D(2006, 1, 31), D(2006, 2, 28), 28, 28, 30),
    (D(2006, 1, 30), D(2006, 2, 28), 28, 28, 30),
    (D(2006, 2, 28), D(2006, 3, 3), 5, 5, 3),
    (D(2006, 2, 14), D(2006, 2, 28), 14, 14, 16),
    (D(2006, 9, 30), D(2006, 10, 31), 30, 30, 30),
    (D(2006, 10, 31), D(2006, 11, 28), 28, 28, 28),
    (D(2007, 8, 31), D(2008, 2, 28), 178, 178, 178),
    (D(2008, 2, 28), D(2008, 8, 28), 180, 180, 180),
    (D(2008, 2, 28), D(2008, 8, 30), 182, 182, 182),
    (D(2008, 2, 28), D(2008, 8, 31), 183, 182, 182),
    (D(2007, 2, 26), D(2008, 2, 28), 362, 362, 362),
    (D(2007, 2, 26), D(2008, 2, 29), 363, 363, 364),
    (D(2008, 2, 29), D(2009, 2, 28), 359, 359, 358),
    (D(2008, 2, 28), D(2008, 3, 30), 32, 32, 32),
    (D(2008, 2, 28), D(2008, 3, 31), 33, 32, 32),
]


@pytest.mark.parametrize("start,end,bond,euro,isda", THIRTY_360)
def test_thirty_360_isda_examples(start, end, bond, euro, isda):
    term = D(2009, 2, 28)
    assert quelm.day_count(start, end, "30/360") == bond
    assert quelm.day_count(start, end, "30e/360") == euro
    assert quelm.day_count(start, end, "30e/360-isda", termination=term) == isda
    assert quelm.year_fraction(start, end, "30e/360-isda", termination=term) == isda / 360


# Each other spelling the day-count parser reads, and the convention it reads as.
SPELLINGS = [("actual/360", "act/360"), ("actual/365f", "act/365f"), ("act/365", "act/365f"),
             ("30/360-bond-basis", "30/360"), ("30/360-bond", "30/360"), ("30e/360-eurobond", "30e/360"),
             ("act/act", "act/act-isda"), ("act/act-isda-2006", "act/act-isda"), ("act/act-isma", "act/act-icma")]


@pytest.mark.parametrize("spelling, canonical", SPELLINGS)
def test_other_spellings_mean_one_convention_everywhere_and_are_documented(spelling, canonical):
    # ISDA 2006 4.16(b): "Actual/Actual", "Act/Act" are Actual/Actual (ISDA); the ISDA example
    # period 1 Nov 2003 to 1 May 2004 gives 61/365 + 121/366 on it.
    a, b = D(2003, 11, 1), D(2004, 5, 1)
    assert quelm.year_fraction(a, b, spelling) == quelm.year_fraction(a, b, canonical)
    assert quelm.Deposit("3M", 0.03, day_count=spelling).day_count == canonical
    bond = quelm.FixedRateBond.dated("2003-11-01", "2013-11-01", 0.05, day_count=spelling)
    assert bond == quelm.FixedRateBond.dated("2003-11-01", "2013-11-01", 0.05, day_count=canonical)
    assert quelm.YieldCurve.flat(0.03, reference_date=a, day_count=spelling).day_count == canonical
    page = (Path(__file__).resolve().parent.parent / "docs" / "dates.md").read_text()
    assert f'`"{spelling}"`' in page


def test_day_count_spellings_and_errors():
    a, b = D(2024, 1, 15), D(2024, 7, 15)
    assert quelm.year_fraction(a, b, "ACT/360") == 182 / 360
    assert quelm.year_fraction(a, b, "act/365f") == 182 / 365
    assert quelm.year_fraction(a, b, "act/364") == 182 / 364
    assert quelm.year_fraction(a, b, "act/365.25") == 182 / 365.25
    assert quelm.year_fraction(b, a, "act/act-icma") == -0.5
    # bus/252 counts business days, start included, end excluded
    assert quelm.day_count(a, b, "bus/252") == np.busday_count(a, b)
    uk = quelm.Calendar("uk")
    assert quelm.day_count(a, b, "bus/252:uk") == uk.business_days_between(a, b)
    assert quelm.year_fraction(a, b, "bus/252:uk") == uk.business_days_between(a, b) / 252
    with pytest.raises(ValueError, match="30e/360-isda needs the termination date"):
        quelm.year_fraction(a, b, "30e/360-isda")
    with pytest.raises(ValueError, match='day count must be .* got "act/366"'):
        quelm.year_fraction(a, b, "act/366")
    with pytest.raises(ValueError, match="ref_start and ref_end must be given together"):
        quelm.year_fraction(a, b, "act/act-icma", ref_start=a)
    with pytest.raises(TypeError):
        quelm.year_fraction(a, b, "act/act-icma", a, b)  # the reference period is keyword-only


# --- Calendars ---------------------------------------------------------------------------

# One-off closures, each from its official source (UK government bank holiday lists,
# NYSE and SIFMA notices, the Cabinet Office of Japan, the ECB).
CLOSED = {
    "uk": ["1999-12-31", "2002-06-03", "2002-06-04", "2011-04-29", "2012-06-04", "2012-06-05", "2020-05-08",
           "2022-06-02", "2022-06-03", "2022-09-19", "2023-05-08", "1995-05-08"],
    "us-nyse": ["1994-04-27", "2001-09-11", "2001-09-12", "2001-09-13", "2001-09-14", "2004-06-11", "2007-01-02",
                "2012-10-29", "2012-10-30", "2018-12-05", "2025-01-09"],
    "us-government-bond": ["2001-09-11", "2001-09-12", "2004-06-11", "2012-10-30", "2018-12-05", "2024-03-29"],
    "japan": ["2019-04-30", "2019-05-01", "2019-05-02", "2019-10-22", "2020-07-23", "2020-07-24", "2020-08-10",
              "2021-07-22", "2021-07-23", "2021-08-09", "2019-09-23", "2026-09-22", "2024-01-02", "2023-12-29"[:0] or
              "2024-12-31", "1990-11-12"],
    "target": ["1999-12-31", "2001-12-31", "2024-05-01", "2024-12-26"],
}
OPEN = {
    "uk": ["2020-05-04", "2002-05-27", "2022-05-30", "2012-05-28"],  # the moved bank holidays
    "us-nyse": ["2025-01-08", "2012-10-31", "2022-12-30"],
    # SIFMA: early closes only (2012-10-29, Carter's day of mourning, Good Friday 2015 and 2021)
    "us-government-bond": ["2012-10-29", "2025-01-09", "2015-04-03", "2021-04-02", "2021-12-31"],
    "japan": ["2019-12-23", "2020-10-12", "2021-10-11", "1997-05-06"],
    "target": ["1999-04-02", "2000-12-29", "2002-12-31"],
}


@pytest.mark.parametrize("name", sorted(CLOSED))
def test_one_off_closures(name):
    cal = quelm.Calendar(name)
    for d in CLOSED[name]:
        assert not cal.is_business_day(d), d
    for d in OPEN[name]:
        assert cal.is_business_day(d), d


def test_calendar_values():
    joint = quelm.Calendar("target+UK")
    assert joint == quelm.Calendar("uk+target") and hash(joint) == hash(quelm.Calendar("uk+target"))
    assert joint.name == "target+uk" and repr(joint) == "Calendar('target+uk')"
    assert joint != quelm.Calendar("uk") and quelm.Calendar(joint) == joint
    assert not joint.is_business_day("2024-05-01") and not joint.is_business_day("2024-08-26")
    extra = quelm.Calendar("uk").with_holidays([D(2024, 7, 10), "2024-07-13", "2024-08-26"])
    assert extra.holidays("2024-07-01", "2024-07-31") == [D(2024, 7, 10)]
    assert extra == quelm.Calendar("uk").with_holidays(["2024-07-10"])  # weekends and holidays dropped
    assert eval(repr(extra), {"Calendar": quelm.Calendar}) == extra
    for cal in (joint, extra, quelm.Calendar("weekends")):
        assert pickle.loads(pickle.dumps(cal)) == cal
    assert len({quelm.Calendar("uk"), quelm.Calendar("UK"), joint}) == 2
    with pytest.raises(ValueError, match='calendar must be .* got "mars"'):
        quelm.Calendar("uk+mars")
    with pytest.raises(TypeError, match="No constructor|argument 'name'"):
        quelm.Calendar(3)
    with pytest.raises(AttributeError):
        joint.name = "uk"


def test_adjust_advance_and_counts():
    uk = quelm.Calendar("uk")
    # Saturday 2013-03-30 between Good Friday and Easter Monday
    assert uk.adjust("2013-03-30") == D(2013, 4, 2)
    assert uk.adjust("2013-03-30", "preceding") == D(2013, 3, 28)
    assert uk.adjust("2013-03-30", "modified-following") == D(2013, 3, 28)
    assert uk.adjust("2013-03-30", "nearest") == D(2013, 3, 28)
    assert uk.adjust("2013-03-30", "unadjusted") == D(2013, 3, 30)
    assert uk.adjust("2021-05-01", "modified-preceding") == D(2021, 5, 4)
    assert uk.advance("2013-03-28", "1D") == D(2013, 4, 2)
    assert uk.advance("2013-04-02", "-1d") == D(2013, 3, 28)
    assert uk.advance("2024-01-31", "1M") == D(2024, 2, 29)
    assert uk.advance("2024-02-29", "1M", end_of_month=True) == D(2024, 3, 28)  # Good Friday is the 29th
    assert uk.advance("2024-02-29", "1M", "unadjusted", end_of_month=True) == D(2024, 3, 31)
    assert uk.advance("2024-02-29", "-1Y", "unadjusted") == D(2023, 2, 28)
    assert uk.advance("2024-01-05", "2W") == D(2024, 1, 19)
    assert uk.business_days_between("2024-01-01", "2024-01-08") == 4
    assert uk.business_days_between("2024-01-08", "2024-01-01") == -4
    with pytest.raises(ValueError, match='tenor must be .* got "3Q"'):
        uk.advance("2024-01-05", "3Q")
    with pytest.raises(ValueError, match="convention must be"):
        uk.adjust("2024-01-05", "follow")


# Days as each market kept them in their year, with the rule they test. Sources: NYSE
# historical closings (nyse.com, "Holidays and trading hours", closings since 1885); the
# Uniform Monday Holiday Act (Pub. L. 90-363, effective 1971), Columbus Day a federal
# holiday on 12 October from 1937, Pub. L. 94-97 (Veterans Day back to 11 November from
# 1978); SIFMA holiday recommendations; the Banking and Financial Dealings Act 1971 and the
# UK proclamations of 1974 (New Year's Day), 1978 (early May), 1977 and 1981; the Cabinet
# Office of Japan (the Act on National Holidays and its 1966, 1973 and 1985 amendments, the
# special laws of 1959 and 1989).
HISTORY = [
    ("us-nyse", "1953-02-12", False),  # Lincoln's Birthday, Flag Day, Columbus and Veterans Day to 1953
    ("us-nyse", "1954-02-12", True),
    ("us-nyse", "1953-06-15", False),  # Flag Day on a Sunday, the Monday closed
    ("us-nyse", "1953-10-12", False),
    ("us-nyse", "1954-10-12", True),
    ("us-nyse", "1952-11-11", False),
    ("us-nyse", "1954-11-11", True),
    ("us-nyse", "1968-02-12", False),  # Lincoln's Birthday once more
    ("us-nyse", "1963-11-25", False),  # President Kennedy's funeral
    ("us-nyse", "1960-11-08", False),  # Election Day: the Tuesday after the first Monday
    ("us-nyse", "1960-11-01", True),
    ("us-nyse", "1966-11-08", False),  # every year until 1968
    ("us-nyse", "1976-11-02", False),  # presidential years until 1980
    ("us-nyse", "1978-11-07", True),
    ("us-nyse", "1984-11-06", True),
    ("us-nyse", "1968-06-12", False),  # the paperwork-crisis Wednesdays
    ("us-nyse", "1968-06-05", True),
    ("us-nyse", "1977-07-14", False),  # the blackout
    ("us-nyse", "1985-09-27", False),  # hurricane Gloria
    ("us-nyse", "1997-01-20", True),   # Martin Luther King Day from 1998
    ("us-nyse", "1998-01-19", False),
    ("us-nyse", "1970-02-23", False),  # Washington's Birthday on 22 February (a Sunday)
    ("us-nyse", "1970-02-16", True),
    ("us-nyse", "1971-02-15", False),  # third Monday from 1971
    ("us-nyse", "1969-05-30", False),  # Memorial Day on 30 May before 1971
    ("us-nyse", "1969-05-26", True),
    ("us-nyse", "1971-05-31", False),
    ("us-government-bond", "1974-10-28", False),  # Veterans Day: fourth Monday of October 1971-1977
    ("us-government-bond", "1974-11-11", True),
    ("us-government-bond", "1970-11-11", False),
    ("us-government-bond", "1978-11-10", True),   # a Saturday 11 November is not moved
    ("us-government-bond", "1967-10-12", False),  # Columbus Day on 12 October before 1971
    ("us-government-bond", "1967-10-09", True),
    ("us-government-bond", "1971-10-11", False),  # the second Monday from 1971
    ("us-government-bond", "1971-10-12", True),
    ("us-government-bond", "1982-01-18", True),   # Martin Luther King Day from 1983
    ("us-government-bond", "1983-01-17", False),
    ("us-government-bond", "2022-06-20", False),  # Juneteenth (a Sunday), from 2022
    ("us-government-bond", "2021-06-18", True),
    ("uk", "1973-01-01", True),   # New Year's Day a bank holiday from 1974
    ("uk", "1974-01-01", False),
    ("uk", "1977-05-02", True),   # the early May bank holiday from 1978
    ("uk", "1978-05-01", False),
    ("uk", "1970-05-18", False),  # Whit Monday before 1971
    ("uk", "1970-05-25", True),
    ("uk", "1970-08-03", False),  # the first Monday of August before 1971
    ("uk", "1970-08-31", True),
    ("uk", "1971-05-31", False),  # the last Mondays of May and August from 1971
    ("uk", "1971-08-30", False),
    ("uk", "1977-06-06", False),  # the silver jubilee: spring holiday moved, one added
    ("uk", "1977-06-07", False),
    ("uk", "1977-05-30", True),
    ("uk", "1981-07-29", False),  # the wedding of the Prince of Wales
    ("japan", "1959-04-10", False),  # the Crown Prince's wedding
    ("japan", "1989-02-24", False),  # the funeral of Emperor Showa
    ("japan", "1966-02-11", True),   # Foundation Day from 1967
    ("japan", "1969-02-11", False),
    ("japan", "1965-09-15", True),   # Respect for the Aged and Health and Sports Day from 1966
    ("japan", "1966-09-15", False),
    ("japan", "1965-10-11", True),
    ("japan", "1966-10-10", False),
    ("japan", "1968-02-12", True),   # no substitute holidays before 12 April 1973
    ("japan", "1973-02-12", True),
    ("japan", "1973-04-30", False),  # the first one
    ("japan", "1984-05-04", True),   # 4 May: a working day until the in-between rule
    ("japan", "1988-05-04", False),
    ("japan", "1987-05-04", False),  # a Monday after Constitution Day on a Sunday
    ("japan", "1980-05-06", True),   # 4 May 1980 was a Sunday but no holiday
    ("japan", "2101-03-21", False),  # the vernal equinox after 2100 (formula from 1980)
    ("japan", "2101-03-22", True),
    ("japan", "2149-03-19", True),
    ("japan", "2149-03-20", False),
]


@pytest.mark.parametrize("name,day,open_", HISTORY)
def test_days_as_each_year_kept_them(name, day, open_):
    assert quelm.Calendar(name).is_business_day(day) is open_


# The mean equinoxes of Meeus, Astronomical Algorithms (2nd ed., 1998), chapter 27:
# table 27.B (years 1000-3000), the periodic terms of table 27.C; Japan time is UT + 9 h,
# with Delta T from the Espenak-Meeus polynomials. Accurate to about a minute.
MEEUS_A = [485, 203, 199, 182, 156, 136, 77, 74, 70, 58, 52, 50, 45, 44, 29, 18, 17, 16, 14, 12, 12, 12, 9, 8]
MEEUS_B = [324.96, 337.23, 342.08, 27.85, 73.14, 171.52, 222.54, 296.72, 243.58, 119.81, 297.17, 21.02,
           247.54, 325.15, 60.93, 155.12, 288.79, 198.04, 199.76, 95.39, 287.11, 320.81, 227.73, 15.45]
MEEUS_C = [1934.136, 32964.467, 20.186, 445267.112, 45036.886, 22518.443, 65928.934, 3034.906, 9037.513,
           33718.147, 150.678, 2281.226, 29929.562, 31555.956, 4443.417, 67555.328, 4562.452, 62894.029,
           31436.921, 14577.848, 31931.756, 34777.259, 1222.114, 16859.074]


def equinox_in_japan(year: int, autumn: bool) -> dt.datetime:
    import math
    y = (year - 2000) / 1000
    if autumn:
        jde0 = 2451810.21715 + 365242.01767 * y - 0.11575 * y**2 + 0.00337 * y**3 + 0.00078 * y**4
    else:
        jde0 = 2451623.80984 + 365242.37404 * y + 0.05169 * y**2 - 0.00411 * y**3 - 0.00057 * y**4
    t = (jde0 - 2451545.0) / 36525
    w = math.radians(35999.373 * t - 2.47)
    dl = 1 + 0.0334 * math.cos(w) + 0.0007 * math.cos(2 * w)
    s = sum(a * math.cos(math.radians(b + c * t)) for a, b, c in zip(MEEUS_A, MEEUS_B, MEEUS_C))
    u = year - 2000
    delta_t = 62.92 + 0.32217 * u + 0.005589 * u * u if year < 2050 else \
        -20 + 32 * ((year - 1820) / 100) ** 2 - 0.5628 * (2150 - year)
    jd = jde0 + 0.00001 * s / dl - delta_t / 86400 + 9 / 24
    return dt.datetime(2000, 1, 1, 12) + dt.timedelta(days=jd - 2451545.0)


def test_japan_equinoxes_are_the_astronomical_days():
    """Every year 1950-2150 the equinox holiday is the day the equinox falls on in Japan
    (the 2100+ days were a day late, counted from 2100); March has no other holiday
    than the equinox and its substitute (from 1973). Equinoxes within 15 minutes of
    midnight are left out: there the minute matters."""
    jp, wrong = quelm.Calendar("japan"), []
    for year in range(1950, 2151):
        for autumn in (False, True):
            when = equinox_in_japan(year, autumn)
            day = when.date()
            minutes = when.hour * 60 + when.minute
            if minutes < 15 or minutes > 24 * 60 - 15:
                continue
            if day.weekday() < 5 and jp.is_business_day(day):
                wrong.append(day)
            if not autumn:
                want = {day} if day.weekday() < 5 else set()
                if day.weekday() == 6 and year >= 1974:
                    want.add(day + dt.timedelta(days=1))
                if set(jp.holidays(D(year, 3, 1), D(year, 3, 31))) != want:
                    wrong.append((year, "March"))
    assert wrong == []


NYSE_OUT = "invalid input: date {} is outside the years the us-nyse calendar covers (1950-2150)"


@pytest.mark.parametrize("call,date", [
    (lambda: quelm.Calendar("us-nyse").is_business_day("1949-12-31"), "1949-12-31"),
    (lambda: quelm.Calendar("us-nyse").is_holiday("2151-01-02"), "2151-01-02"),
    (lambda: quelm.Calendar("us-nyse").adjust("0001-01-01", "unadjusted"), "0001-01-01"),
    (lambda: quelm.Calendar("us-nyse").adjust("1950-01-01", "preceding"), "1949-12-30"),  # a Sunday
    (lambda: quelm.Calendar("us-nyse").adjust("9999-12-31"), "9999-12-31"),
    (lambda: quelm.Calendar("us-nyse").advance("2150-12-30", "2D"), "2151-01-04"),  # a Friday holiday, a weekend
    (lambda: quelm.Calendar("us-nyse").advance("2150-06-15", "1Y"), "2151-06-15"),
    (lambda: quelm.Calendar("us-nyse").advance("1949-06-30", "1Y", end_of_month=True), "1949-06-30"),
    (lambda: quelm.Calendar("us-nyse").advance("1950-03-31", "-3M", end_of_month=True), "1949-12-31"),
    (lambda: quelm.Calendar("us-nyse").business_days_between("1949-06-01", "1950-06-01"), "1949-06-01"),
    (lambda: quelm.Calendar("us-nyse").holidays("2150-06-01", "2151-06-01"), "2151-06-01"),
    (lambda: quelm.year_fraction("2150-06-01", "2151-06-01", "bus/252:us-nyse"), "2151-06-01"),
    (lambda: quelm.day_count("1949-12-30", "1950-06-01", "bus/252:us-nyse"), "1949-12-30"),
    (lambda: quelm.schedule("1945-01-15", "1955-01-15", "6M", calendar="us-nyse"), "1945-01-15"),
    (lambda: quelm.FixedRateBond.dated("2140-01-15", "2160-01-15", 0.03, calendar="us-nyse"), "2160-01-15"),
    (lambda: quelm.FixedRateBond.dated("2000-01-15", "2010-01-15", 0.03, calendar="us-nyse").settlement_date(
        "1949-12-30"), "1949-12-30"),
])
def test_calendars_refuse_days_outside_their_years(call, date):
    with pytest.raises(ValueError, match=f"^{re.escape(NYSE_OUT.format(date))}$"):
        call()


def test_calendar_years_edges_and_weekends():
    # 31 December 2150 is a Japanese bank holiday: following needs 2151, modified-following
    # only the rest of December 2150.
    japan = quelm.Calendar("japan")
    assert japan.adjust("2150-12-31", "modified-following") == D(2150, 12, 30)
    assert japan.adjust("1950-01-03", "modified-preceding") == D(1950, 1, 4)
    with pytest.raises(ValueError, match="date 2151-01-04 is outside"):
        japan.adjust("2150-12-31")
    with pytest.raises(ValueError, match="date 1949-12-30 is outside"):
        japan.adjust("1950-01-03", "preceding")

    for name in ("target", "uk", "us-government-bond", "us-nyse", "japan", "target+uk"):
        cal = quelm.Calendar(name)
        assert cal.is_business_day("1950-01-04") and cal.is_business_day("2150-12-30")
        assert cal.business_days_between("1950-01-01", "2151-01-01") > 49000  # the end is not counted
        with pytest.raises(ValueError, match=re.escape(f"the {name} calendar covers (1950-2150)")):
            cal.is_business_day("2151-01-01")
    # Weekends only: no years to cover, and bus/252 without a calendar counts weekdays anywhere.
    weekends = quelm.Calendar("weekends").with_holidays(["1700-07-05"])
    assert not weekends.is_business_day("1700-07-05") and weekends.is_business_day("9999-12-31")
    assert quelm.day_count("0001-01-01", "0001-01-08", "bus/252") == 5
    with pytest.raises(quelm.ElementError, match=r"^at index \(1,\): invalid input: date 1949-01-01 is outside"):
        quelm.vec.year_fraction(np.array(["2000-01-01", "1949-01-01"], dtype="datetime64[D]"),
                                np.array(["2001-01-01", "1951-01-01"], dtype="datetime64[D]"), "bus/252:uk")


# --- Schedules ---------------------------------------------------------------------------

def test_schedule_stubs_rolls_and_rules():
    assert quelm.schedule("2020-01-15", "2021-03-01", "6M") == [
        D(2020, 1, 15), D(2020, 3, 1), D(2020, 9, 1), D(2021, 3, 1)]  # short front stub
    assert quelm.schedule("2020-01-15", "2021-03-01", "6M", rule="forward") == [
        D(2020, 1, 15), D(2020, 7, 15), D(2021, 1, 15), D(2021, 3, 1)]  # short back stub
    assert quelm.schedule("2020-01-15", "2021-03-01", "6M", first_date="2020-09-01") == [
        D(2020, 1, 15), D(2020, 9, 1), D(2021, 3, 1)]  # long front stub
    assert quelm.schedule("2020-01-15", "2021-03-01", "6M", rule="zero") == [D(2020, 1, 15), D(2021, 3, 1)]
    assert quelm.schedule("2023-02-28", "2024-02-29", "3M", end_of_month=True) == [
        D(2023, 2, 28), D(2023, 5, 31), D(2023, 8, 31), D(2023, 11, 30), D(2024, 2, 29)]
    # IMM dates: third Wednesdays of the quarter months
    assert quelm.schedule("2024-01-10", "2024-12-31", "3M", rule="imm") == [
        D(2024, 1, 10), D(2024, 4, 17), D(2024, 7, 17), D(2024, 10, 16), D(2024, 12, 31)]
    assert quelm.schedule("2024-01-13", "2024-07-13", "3M", calendar="uk", convention="following",
                          termination_convention="unadjusted") == [D(2024, 1, 15), D(2024, 4, 15), D(2024, 7, 13)]
    with pytest.raises(ValueError, match="effective date must precede"):
        quelm.schedule("2024-01-10", "2024-01-10", "3M")
    with pytest.raises(ValueError, match="first_date"):
        quelm.schedule("2024-01-10", "2024-12-31", "3M", first_date="2025-01-01")


@pytest.mark.parametrize("kwargs, message", [
    # stubs that cross: the first period would end after the last one starts
    (dict(first_date="2024-09-01", next_to_last_date="2024-06-01"),
     r"first_date 2024-09-01 must not be after next_to_last_date 2024-06-01"),
    (dict(first_date="2024-09-01", next_to_last_date="2024-06-01", rule="forward"),
     r"first_date 2024-09-01 must not be after next_to_last_date"),
    # one third Wednesday a month: shorter tenors would repeat it
    (dict(tenor="1W", rule="imm"), r"the imm rule needs a tenor in months or years, got 1W"),
    (dict(tenor="1D", rule="imm"), r"the imm rule needs a tenor in months or years, got 1D"),
    (dict(tenor="10D", rule="third-wednesday"), r"the imm rule needs a tenor in months or years, got 10D"),
])
def test_schedules_never_go_back_in_time(kwargs, message):
    args = dict(tenor="3M") | kwargs
    with pytest.raises(ValueError, match="invalid input: schedule: " + message):
        quelm.schedule("2024-01-10", "2024-12-31", args.pop("tenor"), **args)
    # equal stub dates are two periods meeting there
    assert quelm.schedule("2024-01-10", "2024-12-31", "3M", first_date="2024-06-01",
                          next_to_last_date="2024-06-01") == [D(2024, 1, 10), D(2024, 6, 1), D(2024, 12, 31)]


@pytest.mark.parametrize("effective, termination, tenor, rule, want", [
    # the step past the last period would leave year 9999 (or go before year 1)
    ("9990-06-30", "9999-06-30", "1Y", "forward", [D(9990 + k, 6, 30) for k in range(10)]),
    ("9998-06-30", "9999-06-30", "6M", "forward", [D(9998, 6, 30), D(9998, 12, 30), D(9999, 6, 30)]),
    ("9998-06-30", "9999-06-30", "6M", "backward", [D(9998, 6, 30), D(9998, 12, 30), D(9999, 6, 30)]),
    ("9999-01-31", "9999-12-31", "3M", "forward", [D(9999, 1, 31), D(9999, 4, 30), D(9999, 7, 31),
                                                    D(9999, 10, 31), D(9999, 12, 31)]),
    ("9999-12-01", "9999-12-31", "1W", "forward", [D(9999, 12, 1), D(9999, 12, 8), D(9999, 12, 15),
                                                    D(9999, 12, 22), D(9999, 12, 29), D(9999, 12, 31)]),
    ("9999-12-25", "9999-12-31", "5D", "forward", [D(9999, 12, 25), D(9999, 12, 30), D(9999, 12, 31)]),
    ("0001-01-01", "0003-03-15", "1Y", "backward", [D(1, 1, 1), D(1, 3, 15), D(2, 3, 15), D(3, 3, 15)]),
    ("0001-01-01", "0001-02-01", "1W", "backward", [D(1, 1, 1), D(1, 1, 4), D(1, 1, 11), D(1, 1, 18),
                                                     D(1, 1, 25), D(1, 2, 1)]),
    ("0001-01-05", "0002-01-05", "6M", "backward", [D(1, 1, 5), D(1, 7, 5), D(2, 1, 5)]),
])
def test_schedules_at_the_ends_of_the_dates(effective, termination, tenor, rule, want):
    assert quelm.schedule(effective, termination, tenor, rule=rule, end_of_month=tenor == "3M") == want


@pytest.mark.parametrize("day, tenor, eom, want", [
    ("9999-11-30", "1M", True, D(9999, 12, 31)),  # into the last month there is
    ("9999-11-30", "1M", False, D(9999, 12, 30)),
    ("9998-12-31", "12M", False, D(9999, 12, 31)),
    ("0001-02-28", "-1M", True, D(1, 1, 31)),  # back to the first one
    ("0001-12-31", "-11M", False, D(1, 1, 31)),
    ("9999-12-01", "1M", False, None),  # one month past either end
    ("0001-01-31", "-1M", False, None),
    ("0001-12-31", "-1Y", True, None),
])
def test_advance_by_months_at_the_ends_of_the_dates(day, tenor, eom, want):
    weekends = quelm.Calendar("weekends")
    if want is None:
        with pytest.raises(ValueError, match=r"^invalid input: the advanced date falls outside 0001-01-01\.\.9999-12-31$"):
            weekends.advance(day, tenor, "unadjusted", end_of_month=eom)
    else:
        assert weekends.advance(day, tenor, "unadjusted", end_of_month=eom) == want


# --- Dated bonds -------------------------------------------------------------------------

@pytest.fixture(scope="module")
def gilt():
    # 8 % Treasury Stock 2021: issued 1996-02-29, first coupon 1996-06-07, 6 business days ex.
    return quelm.FixedRateBond.dated("1996-02-29", "2021-06-07", 0.08, calendar="uk", ex_coupon_days=6,
                                     first_coupon="1996-06-07")


def test_gilt_example(gilt):
    assert gilt.accrued_at("2013-05-29") == pytest.approx(3.8021978, abs=5e-8)
    assert gilt.yield_at(103.0, "2013-05-29") == pytest.approx(0.0749518, abs=5e-8)
    assert gilt.accrued_at("2013-05-30") == pytest.approx(-0.1758242, abs=5e-8)  # ex-coupon
    assert gilt.clean_price_at(gilt.yield_at(103.0, "2013-05-30"), "2013-05-30") == pytest.approx(103.0, abs=1e-9)
    flows = gilt.cashflows()
    assert flows[0] == (D(1996, 6, 7), pytest.approx(4 * 99 / 183, abs=1e-13))  # a short first period
    assert flows[1] == (D(1996, 12, 7), 4.0) and flows[-1] == (D(2021, 6, 7), 104.0)
    assert len(flows) == 51


def test_treasury_appendix_b_example():
    # 31 CFR 356, Appendix B: 8 3/4 % note of 1990-05-15 to 2020-05-15 at a yield of 8.84 %.
    note = quelm.FixedRateBond.dated("1990-05-15", "2020-05-15", 0.0875, calendar="us-government-bond")
    assert round(note.clean_price_at(0.0884, "1990-05-15"), 6) == 99.057893
    assert note.accrued_at("1990-05-15") == 0.0
    assert note.yield_at(99.057893, "1990-05-15") == pytest.approx(0.0884, abs=1e-8)


def test_dated_bond_measures_agree_with_each_other(gilt):
    settle, y = D(2013, 5, 29), 0.06
    dirty = gilt.dirty_price_at(y, settle)
    assert gilt.clean_price_at(y, settle) == pytest.approx(dirty - gilt.accrued_at(settle), abs=1e-12)
    h = 1e-5
    up, down = gilt.dirty_price_at(y + h, settle), gilt.dirty_price_at(y - h, settle)
    modified = gilt.modified_duration_at(y, settle)
    assert modified == pytest.approx(-(up - down) / (2 * h) / dirty, rel=1e-7)
    assert gilt.macaulay_duration_at(y, settle) == pytest.approx(modified * (1 + y / 2), rel=1e-12)
    assert gilt.convexity_at(y, settle) == pytest.approx((up - 2 * dirty + down) / h**2 / dirty, rel=1e-4)
    # the z-spread over a flat curve of the bond's own yield, continuously compounded, is close to zero
    flat = quelm.YieldCurve.flat(2 * np.log1p(y / 2))
    z = gilt.z_spread_at(gilt.clean_price_at(y, settle), settle, flat)
    assert abs(z) < 2e-4
    curve = quelm.YieldCurve.from_zero_rates([0.0, 1.0, 5.0, 10.0], [0.03, 0.035, 0.04, 0.045])
    z = gilt.z_spread_at(103.0, settle, curve)
    assert 0.0 < z < 0.05


@pytest.mark.parametrize("measure", ["clean_price_at", "dirty_price_at", "macaulay_duration_at",
                                     "modified_duration_at", "convexity_at"])
@pytest.mark.parametrize("y", [np.inf, -np.inf])
def test_an_infinite_yield_is_refused_not_priced(gilt, measure, y):
    # +inf used to price every flow at zero: a clean price of minus the accrued.
    sign = "" if y > 0 else "-"
    with pytest.raises(ValueError) as info:
        getattr(gilt, measure)(y, D(2013, 5, 29))
    assert str(info.value) == f"invalid input: bond: yield must be finite, got {sign}inf"
    # The array form fails that element alike, the others keeping the scalar bits.
    vec = pytest.importorskip("quelm.vec")
    name = {"clean_price_at": "dated_bond_price"}.get(measure, "dated_bond_" + measure[:-3])
    got = getattr(vec, name)(gilt, [0.05] * 300 + [y], D(2013, 5, 29), errors="nan")
    assert got[0] == getattr(gilt, measure)(0.05, D(2013, 5, 29)) and np.isnan(got[-1])


def test_dated_bond_settlement_and_errors(gilt):
    assert gilt.settlement_date("1990-01-01") == D(1996, 2, 29)  # never before the issue
    t1 = quelm.FixedRateBond.dated("2020-01-15", "2030-01-15", 0.02, settlement_days=1, calendar="uk")
    assert t1.settlement_date("2024-12-24") == D(2024, 12, 27)
    for bad in ("1996-02-28", "2021-06-07", "2030-01-01"):
        with pytest.raises(ValueError, match="settlement date .* outside"):
            gilt.accrued_at(bad)
    with pytest.raises(ValueError, match="frequency must be 1, 2, 3, 4, 6 or 12"):
        quelm.FixedRateBond.dated("2020-01-15", "2030-01-15", 0.02, frequency=5)
    with pytest.raises(ValueError, match="issue date must precede"):
        quelm.FixedRateBond.dated("2030-01-15", "2020-01-15", 0.02)
    # a coupon past 100 % a year is a typo or overflows the flows into a NaN price
    for coupon in (1e308, 5.0, -0.01):
        with pytest.raises(ValueError, match=r"coupon_rate must be within \[0, 1\]"):
            quelm.FixedRateBond.dated("2020-01-15", "2030-01-15", coupon)
    assert quelm.FixedRateBond.dated("2020-01-15", "2030-01-15", 1.0).coupon_rate == 1.0
    with pytest.raises(ValueError, match="clean price must be positive"):
        gilt.yield_at(-1.0, "2013-05-29")
    assert np.isnan(gilt.clean_price_at(float("nan"), "2013-05-29"))


def test_dated_bond_values(gilt):
    again = quelm.FixedRateBond.dated(D(1996, 2, 29), np.datetime64("2021-06-07"), 0.08,
                                      calendar=quelm.Calendar("uk"), ex_coupon_days=6, first_coupon="1996-06-07")
    assert again == gilt and pickle.loads(pickle.dumps(gilt)) == gilt
    assert gilt.issue == D(1996, 2, 29) and gilt.maturity == D(2021, 6, 7) and gilt.frequency == 2
    assert gilt.day_count == "act/act-icma" and gilt.calendar == quelm.Calendar("uk") and gilt.face == 100.0
    assert "DatedBond" in repr(gilt) and "calendar='uk'" in repr(gilt)
    # the existing bond is untouched
    b = quelm.FixedRateBond.regular(100, 0.05, 2, 10)
    assert b.clean_price_from_yield(0.05) == pytest.approx(100.0, abs=1e-9)


# The brief's end-of-month examples, by hand: a first coupon period from 2020-01-15 to
# 2020-06-30 whose quasi-coupon period starts on 2019-12-31 (the month-end roll), 182 days.
def test_end_of_month_reference_periods():
    bond = quelm.FixedRateBond.dated("2020-01-15", "2030-06-30", 0.03, first_coupon="2020-06-30", end_of_month=True)
    assert bond.cashflows()[0] == (D(2020, 6, 30), pytest.approx(1.5 * 167 / 182, abs=1e-13))
    assert bond.accrued_at("2020-03-16") == pytest.approx(1.5 * 61 / 182, abs=1e-13)
    assert bond.cashflows()[1] == (D(2020, 12, 31), pytest.approx(1.5, abs=1e-13))
    # A quarterly month-end bond: the coupon of 2026-02-28 is paid on Monday 2 March, its
    # street time running 2 days into the notional period to 2026-05-31 (92 days).
    q = quelm.FixedRateBond.dated("2024-02-29", "2034-02-28", 0.045, frequency=4, end_of_month=True,
                                  convention="following")
    assert q.clean_price_at(0.04, "2026-02-28") == pytest.approx(103.407316503, abs=1e-8)  # QuantLib 1.44
    settles = np.array(["2025-03-01", "2026-02-28", "2026-03-01", "2031-08-30"], dtype="datetime64[D]")
    assert list(quelm.vec.dated_bond_price(q, 0.04, settles)) == [q.clean_price_at(0.04, s) for s in settles.tolist()]
    # without the roll the notional period would end on 2026-05-28 and the ICMA fraction differ
    plain = quelm.FixedRateBond.dated("2024-02-29", "2034-02-28", 0.045, frequency=4, convention="following")
    assert plain.cashflows() != q.cashflows()


def _dated_curve(reference, day_count):
    times = [0.5, 1.0, 2.0, 5.0, 10.0, 20.0, 40.0]
    rates = [0.03 + 0.002 * np.sqrt(t) for t in times]
    return quelm.YieldCurve.from_zero_rates(times, rates, "log-linear", extrapolate="flat-forward",
                                            reference_date=reference, day_count=day_count)


def _price_by_hand(bond, curve, settle, spread, day_count):
    """Each payment after settlement discounted to it, D(pay)/D(settle)·e^(−s·t), t the
    curve's years between the two (an independent sum over the bond's cash flows)."""
    ref = curve.reference_date
    t_settle = quelm.year_fraction(ref, settle, day_count)
    total = 0.0
    for pay, amount in bond.cashflows():
        if pay <= settle:
            continue
        t = quelm.year_fraction(ref, pay, day_count)
        total += amount * curve.discount(pay) / curve.discount(settle) * np.exp(-spread * (t - t_settle))
    return total


@pytest.mark.parametrize("day_count", ["act/365f", "act/360"])
@pytest.mark.parametrize("reference", [D(2025, 3, 17), D(2021, 6, 30), D(2015, 1, 2)])
@pytest.mark.parametrize("spread", [0.0, 0.0125, -0.004])
def test_price_from_curve_and_z_spread_read_the_curve_on_dates(day_count, reference, spread):
    settle = D(2025, 3, 17)
    bond = quelm.FixedRateBond.dated("2024-05-15", "2034-05-15", 0.045)
    curve = _dated_curve(reference, day_count)
    got = bond.price_from_curve(curve, settle, spread=spread)
    dirty = _price_by_hand(bond, curve, settle, spread, day_count)
    assert got["dirty"] == pytest.approx(dirty, abs=1e-10)
    assert got["clean"] == pytest.approx(dirty - bond.accrued_at(settle), abs=1e-10)
    # the z-spread recovers the spread whatever the curve's day count or reference date
    assert bond.z_spread_at(got["clean"], settle, curve) == pytest.approx(spread, abs=1e-10)
    # a curve without a reference date counts act/365f years from settlement, as before
    flat = quelm.YieldCurve.flat(0.035)
    flows = [(pay, a) for pay, a in bond.cashflows() if pay > settle]
    by_hand = sum(a * np.exp(-(0.035 + spread) * (pay - settle).days / 365) for pay, a in flows)
    assert bond.price_from_curve(flat, settle, spread=spread)["dirty"] == pytest.approx(by_hand, abs=1e-10)


def test_price_from_curve_is_the_bond_quote_model_price():
    # a BondQuote prices its bond settling on the bond's own lag after the curve's date
    bond = quelm.FixedRateBond.dated("2024-05-15", "2034-05-15", 0.045, settlement_days=2, calendar="uk",
                                     ex_coupon_days=7)
    for reference in (D(2025, 3, 17), D(2025, 11, 10)):  # the second settles ex-coupon
        curve = _dated_curve(reference, "act/360")
        settle = bond.settlement_date(reference)
        assert bond.price_from_curve(curve, settle)["clean"] == pytest.approx(
            quelm.BondQuote(bond, 99.0).implied_quote(curve), abs=1e-11)


def test_price_from_curve_errors():
    bond = quelm.FixedRateBond.dated("2024-05-15", "2034-05-15", 0.045)
    late = _dated_curve(D(2025, 6, 2), "act/365f")
    for call in (lambda: bond.price_from_curve(late, "2025-03-17"), lambda: bond.z_spread_at(99.0, "2025-03-17", late)):
        with pytest.raises(ValueError, match="invalid input: bond: the curve's reference date 2025-06-02 is after "
                                             "the settlement date 2025-03-17"):
            call()
    curve = _dated_curve(D(2025, 3, 17), "act/365f")
    with pytest.raises(ValueError, match="settlement date .* outside"):
        bond.price_from_curve(curve, "2035-01-01")
    with pytest.raises(ValueError, match="spread must be finite"):
        bond.price_from_curve(curve, "2025-03-17", spread=float("nan"))
    with pytest.raises(TypeError, match="expected quelm.YieldCurve"):
        bond.price_from_curve(0.03, "2025-03-17")
    assert set(bond.price_from_curve(curve, "2025-03-17")) == {"clean", "dirty"}


# A bond of the last years of the calendar: the Gregorian calendar repeats every 400 years
# (146097 days, a whole number of weeks), so the same bond four centuries earlier has the
# same cash flows, accrued interest and prices.
@pytest.mark.parametrize("maturity, frequency, first_coupon", [
    ("9999-12-31", 2, None), ("9999-06-30", 4, None), ("9999-12-15", 1, "9990-07-01"), ("9999-11-30", 12, None),
])
def test_bonds_at_the_end_of_the_dates(maturity, frequency, first_coupon):
    def bond(shift):
        m = D.fromisoformat(maturity)
        fc = D.fromisoformat(first_coupon).replace(year=D.fromisoformat(first_coupon).year - shift) \
            if first_coupon else None
        return quelm.FixedRateBond.dated(D(9990 - shift, 3, 10), m.replace(year=m.year - shift), 0.05,
                                         frequency=frequency, end_of_month=True, convention="following",
                                         settlement_days=2, first_coupon=fc)
    late, early = bond(0), bond(400)
    assert [(d.replace(year=d.year - 400), a) for d, a in late.cashflows()] == early.cashflows()
    for settle in (D(9991, 1, 1), D(9995, 8, 17), D(9999, 3, 1)):
        back = settle.replace(year=settle.year - 400)
        assert late.accrued_at(settle) == early.accrued_at(back)
        assert late.clean_price_at(0.04, settle) == early.clean_price_at(0.04, back)
    start = quelm.FixedRateBond.dated("0001-01-01", "0011-01-15", 0.05)
    assert start.cashflows()[0][0] == D(1, 1, 15)
    assert start.accrued_at("0001-01-10") == pytest.approx(2.5 * 9 / 184, abs=1e-13)  # 0000-07-15 to 0001-01-15
    # an ex-coupon period reaching back before the first date: the first coupon trades ex throughout
    ex = quelm.FixedRateBond.dated("0001-01-01", "0011-01-03", 0.05, ex_coupon_days=7)
    assert ex.accrued_at("0001-01-02") == pytest.approx(-2.5 * 1 / 184, abs=1e-13)


# --- Market presets --------------------------------------------------------------------------

@pytest.mark.parametrize("market, frequency, day_count, calendar, settlement_days, ex_coupon_days", [
    ("ust", 2, "act/act-icma", "us-government-bond", 1, 0),
    ("gilt", 2, "act/act-icma", "uk", 1, 7),
    ("bund", 1, "act/act-icma", "target", 2, 0),
    ("oat", 1, "act/act-icma", "target", 2, 0),
    ("jgb", 2, "act/365f", "japan", 1, 0),
    ("GILT", 2, "act/act-icma", "uk", 1, 7),
])
def test_market_presets(market, frequency, day_count, calendar, settlement_days, ex_coupon_days):
    bond = quelm.FixedRateBond.dated("2020-03-20", "2030-03-20", 0.02, market=market)
    explicit = quelm.FixedRateBond.dated("2020-03-20", "2030-03-20", 0.02, frequency=frequency, day_count=day_count,
                                         calendar=calendar, settlement_days=settlement_days,
                                         ex_coupon_days=ex_coupon_days, end_of_month=market == "ust")
    assert bond == explicit
    assert (bond.frequency, bond.day_count, bond.calendar) == (frequency, day_count, quelm.Calendar(calendar))
    # a keyword given wins over the preset
    own = quelm.FixedRateBond.dated("2020-03-20", "2030-03-20", 0.02, market=market, frequency=4,
                                    settlement_days=0, ex_coupon_days=0, calendar="weekends")
    assert (own.frequency, own.calendar, own.settlement_date("2024-03-22")) == (4, quelm.Calendar("weekends"), D(2024, 3, 22))
    assert pickle.loads(pickle.dumps(bond)) == bond


def test_market_preset_values_by_hand():
    # Bund 0 % and 2.3 % 15/02/2033, annual act/act: accrued from 15 Feb 2024 to the T+2
    # settlement of a trade on Friday 19 April 2024 (Tuesday 23 April): 68 of 366 days.
    bund = quelm.FixedRateBond.dated("2023-01-13", "2033-02-15", 0.023, market="bund", first_coupon="2024-02-15")
    settle = bund.settlement_date("2024-04-19")
    assert settle == D(2024, 4, 23)
    assert bund.accrued_at(settle) == pytest.approx(2.3 * 68 / 366, abs=1e-13)
    # JGB #370 (0.5 %, 20 March 2033): accrued at actual days over 365, 20 March to
    # 2 April 2024 (Japan's T+1 of 1 April): 13 days.
    jgb = quelm.FixedRateBond.dated("2023-03-20", "2033-03-20", 0.005, market="jgb")
    assert jgb.settlement_date("2024-04-01") == D(2024, 4, 2)
    assert jgb.accrued_at("2024-04-02") == pytest.approx(0.5 * 13 / 365, abs=1e-13)
    # Gilt 4 1/8 % 2029 pays 22 Jan / 22 Jul; 7 business days before 22 July 2024 is
    # 11 July: settling then trades ex-dividend, with 11 days of interest given back.
    gilt = quelm.FixedRateBond.dated("2023-07-22", "2029-07-22", 0.04125, market="gilt")
    assert gilt.accrued_at("2024-07-10") == pytest.approx(2.0625 * 170 / 182, abs=1e-13)
    assert gilt.accrued_at("2024-07-11") == pytest.approx(-2.0625 * 11 / 182, abs=1e-13)
    # OAT, annual act/act on TARGET, T+2: 25 May 2023 to 23 April 2024 is 334 of 366 days
    oat = quelm.FixedRateBond.dated("2022-05-25", "2033-05-25", 0.03, market="oat")
    assert oat.accrued_at(oat.settlement_date("2024-04-19")) == pytest.approx(3.0 * 334 / 366, abs=1e-13)
    with pytest.raises(ValueError, match="market must be 'ust', 'gilt', 'bund', 'oat', or 'jgb', got \"btp\""):
        quelm.FixedRateBond.dated("2020-03-20", "2030-03-20", 0.02, market="btp")
