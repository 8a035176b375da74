-- The title room: stars drift by, the ship hovers under the title, and ENTER, SPACE or a click
-- starts the game. The play room's pictures and fonts are loaded first through a resource list
-- (which also lets go of what only the title uses); once they are in, forceNewRoom switches.
-- Its music is an intro played once and a loop after it (LOOP_FINAL); its sounds play dry.

-- Log lines (room changes, saves) reach a terminal or a pipe at once.
io.stdout:setvbuf("line")

local TITLE = "STAR CATCHER"
local TITLE_TOP = 390  -- the top of the title's line (the capitals' tops lie a little lower)

function Init()
    setBackgroundColor(11 / 255, 16 / 255, 38 / 255)
    hud = Hud:new()
    shipImage = getImageHandle("ship.png")
    starSpeed = 0.4
    for i = 1, 90 do
        instTable["star" .. i] = Star:new()
    end
    instTable.runner = Runner:new()
    clock = 0
    starting = false
    startSound = getSoundHandle("start.wav")
    -- Music slot 0 may still be playing the play room's music when the game comes back here.
    stopMusicSlot(0)
    assignMusicToSlot(0, getMusicHandle("title-intro.ogg"))
    appendMusicToSlot(0, getMusicHandle("title-loop.ogg"))
    soundSrcVolume(getMusicSource(0), 0.35)
    playMusicSlot(0, 0, LOOP_FINAL)
    -- Environment 1 (the play room's hall) glides back to the plain setting over a second.
    presetAudioEnv(1, 60, PRESET_GENERIC)
    -- Where the title goes, and how wide the font says it is: a test compares this with the
    -- pixels on the screen.
    local width = getTextWidth(hud.large, TITLE)
    print(string.format("demo: entered the title room; title %q %d pixels wide, pen at %d %d", TITLE, width,
        320 - math.floor(width / 2), TITLE_TOP))
end

function Step()
    clock = clock + 1
    if not starting and (keyPressed(KEY_ENTER) or keyPressed(KEY_SPACE) or mousePressed(BUTTON_LEFT)) then
        beginResourceList()
        includeRoom("play", 1)
        endResourceList()
        starting = true
        playSound(startSound, false, 1)
        print("demo: start chime")
    end
    if starting and resourcesAreLoaded() then
        forceNewRoom("play")
    end
end

function Render()
    hud:banner(TITLE, 320, TITLE_TOP, GOLD)
    drawImage(shipImage, 304, 236 + math.floor(math.sin(clock / 20) * 6))
    if starting or math.floor(clock / 30) % 2 == 0 then
        hud:text(hud.small, "press ENTER or click to play", 320, 176, WHITE, "centre")
    end
    if bestScores and (bestScores[1] or 0) > 0 then
        hud:counter("BEST", bestScores[1], 320, 124, GOLD, "centre")
    end
    hud:controls(70)
end
