-- Load script for wrk: POSTs "search" requests exactly as the plug-in
-- sends them, cycling through a mix of search texts for the generated world
-- (generate --seed 7): single letters, word prefixes, whole words, two-word
-- searches and searches that match nothing.
--
--   wrk -t1 -c8 -d10s --latency -s search.lua http://127.0.0.1:PORT
--
-- Set WRK_SEARCH to one search text to measure only that one.

local texts = {
  "a", "m",
  "kar", "bel", "thal", "vel", "dor", "grim", "quel", "yth",
  "karan", "belor", "thalith", "ostin", "zarur",
  "crypt", "mine", "falls", "outpost", "ruins", "old", "upper",
  "kar%20crypt", "vel%20mine", "old%20dor", "grey%20bel%20ruins",
  "harnethorn", "quelormoor", "ralarridge", "istrewood",
  "nothingmatches", "zzz",
}

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
