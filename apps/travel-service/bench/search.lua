-- Load script for wrk: POSTs "search" requests exactly as the plug-in
-- sends them, cycling through a mix of search texts for the generated world
-- (generate --seed 7).
--
--   wrk -t1 -c8 -d10s --latency -s search.lua http://127.0.0.1:PORT
--
-- WRK_MIX chooses the mix:
--   prefix    (the default) single letters, word prefixes, whole words,
--             two-word searches and searches that match nothing
--   misspelt  names' words with a letter missing, added, wrong or swapped
--             (one or two edits), alone or beside a correct word, and
--             misspellings of nothing, which the prefix search cannot find
-- Set WRK_SEARCH to one search text to measure only that one.

local prefix_texts = {
  "a", "m",
  "kar", "bel", "thal", "vel", "dor", "grim", "quel", "yth",
  "karan", "belor", "thalith", "ostin", "zarur",
  "crypt", "mine", "falls", "outpost", "ruins", "old", "upper",
  "kar%20crypt", "vel%20mine", "old%20dor", "grey%20bel%20ruins",
  "harnethorn", "quelormoor", "ralarridge", "istrewood",
  "nothingmatches", "zzz",
}

local misspelt_texts = {
  -- Words of 8 letters or more, one or two edits.
  "varanrigde", "quelafel", "halanmrk", "dorrormere", "loranmor", "eskarwach",
  "istradthron", "varomgrad", "dorithvael", "moranthron", "torinrige", "belomark",
  "velithmer", "grimadmeer", "fenisted", "karnmere",
  -- Words of 4 to 7 letters, one edit.
  "oriwik", "ulevael", "orihld", "oraferd", "vaulr", "shrien", "towr", "sanctun",
  -- Beside a correct word, or both misspelt.
  "varanrigde%20falls", "loranmor%20tower", "deep%20grimadmer", "hlanmark%20ruins",
  "oriwik%20brige",
  -- Nothing is near.
  "xyzzyplugh", "qqqqwwww", "brumblefrotz",
}

local texts = prefix_texts
if os.getenv("WRK_MIX") == "misspelt" then texts = misspelt_texts end
local only = os.getenv("WRK_SEARCH")
if only and only ~= "" then texts = { only } end

local requests = {}
for i, text in ipairs(texts) do
  requests[i] = wrk.format("POST", "/marlgate_travels/travel.php",
    { ["Content-Type"] = "application/x-www-form-urlencoded",
      ["X-Plugin-Name"] = "Marlgate_Travels",
      ["X-Plugin-Version"] = "1.0.2" },
    "&travel_action=search&Value=" .. text ..
    "&currentcharacter=Ann%20Lee&random= .7055475")
end

local next_index = 0
request = function()
  next_index = next_index % #requests + 1
  return requests[next_index]
end

response = function(status, headers, body)
  if status ~= 200 or not body:find("<search ", 1, true) then
    print("unexpected reply " .. status .. ": " .. body:sub(1, 200))
  end
end
